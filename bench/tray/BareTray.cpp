// The smallest Qt tray application: an icon and a one-entry menu. The start-up benchmark times
// it beside the real application, as the floor that Qt and the tray protocol set.
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap square(22, 22);
    square.fill(Qt::darkGray);
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &app, &QCoreApplication::quit);
    QSystemTrayIcon tray {QIcon(square)};
    tray.setContextMenu(&menu);
    tray.show();
    return app.exec();
}
