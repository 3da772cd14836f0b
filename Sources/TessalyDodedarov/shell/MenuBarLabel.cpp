#include "shell/MenuBarLabel.h"

#include "model/AppModel.h"

#include <QPainter>
#include <QPixmap>

MenuBarLabel::MenuBarLabel(AppModel &model, QObject *parent)
    : QObject(parent)
    , m_model(model)
{
    connect(&m_model, &AppModel::runningChanged, this, &MenuBarLabel::refresh);
    connect(&m_model, &AppModel::phaseChanged, this, &MenuBarLabel::refresh);
    connect(&m_model, &AppModel::meetingActiveChanged, this, &MenuBarLabel::refresh);
    m_mark = mark(m_model);
}

Branding::Mark MenuBarLabel::mark(const AppModel &model)
{
    return mark(model.running(), model.phase(), model.meetingActive());
}

Branding::Mark MenuBarLabel::mark(bool running, Engine::Phase phase, bool meetingActive)
{
    if (running)
        return phase == Engine::Phase::recognizing ? Branding::Mark::recognizing : Branding::Mark::standby;
    return meetingActive ? Branding::Mark::paused : Branding::Mark::none;
}

QImage MenuBarLabel::squared(const QImage &image)
{
    const int side = std::max(image.width(), image.height());
    QImage square(side, side, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    square.setDevicePixelRatio(image.devicePixelRatio());
    QPainter painter(&square);
    const qreal ratio = image.devicePixelRatio();
    painter.drawImage(QPointF((side - image.width()) / 2.0 / ratio, (side - image.height()) / 2.0 / ratio), image);
    return square;
}

QIcon MenuBarLabel::icon() const
{
    return QIcon(QPixmap::fromImage(squared(Branding::menuBarImage(m_mark))));
}

void MenuBarLabel::refresh()
{
    const Branding::Mark next = mark(m_model);
    if (next == m_mark)
        return;
    m_mark = next;
    emit iconChanged();
}
