#include "shell/AppDelegate.h"

#include "display/CaptionPanelController.h"
#include "model/AppModel.h"
#include "platform/UnixSignalWatcher.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace {

// The menu-bar glyph: a caption bubble drawn at run time, so no image file has to ship.
QIcon trayGlyph()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(40, 40, 40));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(4, 10, 56, 44), 10, 10);
    painter.setPen(Qt::white);
    QFont font;
    font.setPixelSize(30);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(4, 10, 56, 44), Qt::AlignCenter, QStringLiteral("字"));
    return QIcon(pixmap);
}

}

AppDelegate::AppDelegate(QObject *parent)
    : QObject(parent)
{
}

AppDelegate::~AppDelegate()
{
    delete m_menu;
}

void AppDelegate::applicationDidFinishLaunching()
{
    m_signals = new UnixSignalWatcher(this);
    connect(m_signals, &UnixSignalWatcher::terminationRequested, qApp, &QCoreApplication::quit);

    m_menu = new QMenu;
    m_menu->addAction(QStringLiteral("退出"), qApp, &QCoreApplication::quit);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(trayGlyph(), this);
        m_tray->setToolTip(QStringLiteral("泰萨利字幕"));
        m_tray->setContextMenu(m_menu);
        m_tray->show();
    }

    // The captions, shown from the next turn of the event loop on.
    m_panel = new CaptionPanelController(AppModel::shared(), this);
    m_panel->setContextMenu(m_menu);
    // The model stops its engine's queue with a call that waits for the queue's thread; while
    // the application object is being destroyed no event reaches that thread any more and the
    // wait never ends. So the model goes while the application still runs.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [] { delete AppModel::shared(); });
}
