#include "display/HotKey.h"

#include "platform/x11/X11KeyGrabber.h"

#include <QCoreApplication>
#include <QMetaObject>

std::unique_ptr<HotKey> HotKey::create(QKeyCombination combination, Action action)
{
    X11KeyGrabber *grabber = X11KeyGrabber::instance();
    if (!grabber)
        return nullptr;
    // The press arrives inside Qt's event filter; the action runs on a later turn of the
    // event loop, where it may open windows or start a meeting without re-entering it.
    grabber->pressed = [](quint32 id) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [id] {
                const auto found = actions.constFind(id);
                if (found != actions.constEnd()) {
                    const Action run = *found;
                    run();
                }
            },
            Qt::QueuedConnection);
    };

    const quint32 id = nextID++;
    if (!grabber->grab(id, combination))
        return nullptr;
    actions.insert(id, std::move(action));
    return std::unique_ptr<HotKey>(new HotKey(id));
}

HotKey::HotKey(quint32 id)
    : m_id(id)
{
}

HotKey::~HotKey()
{
    if (X11KeyGrabber *grabber = X11KeyGrabber::instance())
        grabber->ungrab(m_id);
    actions.remove(m_id);
}
