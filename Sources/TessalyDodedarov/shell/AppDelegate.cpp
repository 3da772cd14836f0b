#include "shell/AppDelegate.h"

#include "model/AppModel.h"
#include "platform/UnixSignalWatcher.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QSessionManager>
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

    // The model exists from launch, so every way out (the menu, a signal, logout, shutdown)
    // runs its one quit path and the record is saved.
    AppModel *model = AppModel::shared();
#ifndef QT_NO_SESSIONMANAGER
    connect(qApp, &QGuiApplication::commitDataRequest, model, [model](QSessionManager &) { model->quitOnce(); });
#endif

    m_menu = new QMenu;
    m_menu->addAction(QStringLiteral("退出"), qApp, &QCoreApplication::quit);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(trayGlyph(), this);
        m_tray->setToolTip(QStringLiteral("泰萨利字幕"));
        m_tray->setContextMenu(m_menu);
        m_tray->show();
    }
}
