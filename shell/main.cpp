// The group terminal's entry point: tray icon with its quit action, then the
// main window (splash, configuration, messaging, screen sharing, viewer).
#include "BoardForm.h"
#include "BoardWidget.h"
#include "MainWindow.h"
#include "QScreenThread.h"
#include "QServerThread.h"
#include "TrayIndicator.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <cstdio>
#include <exception>

int main(int argc, char* argv[])
{
    // Diagnostics are whole lines, so that a reader on a pipe sees each at once.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(":/Tavlo_Icon.ico"));

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        QMessageBox::critical(nullptr, QObject::tr("Systray"),
                              QObject::tr("I couldn't detect any system tray on this system."), QMessageBox::Ok,
                              QMessageBox::NoButton);
        return 1;
    }

    QSystemTrayIcon* trayIcon = new QSystemTrayIcon(QIcon(":/Tavlo_Icon.ico"));
    QMenu* trayMenu = new QMenu();
    QAction* quitAction = new QAction(QString::fromUtf8("退出"), trayMenu);
    QObject::connect(quitAction, &QAction::triggered, &app, &QApplication::quit);
    trayMenu->addAction(quitAction);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->show();

    int code = 1;
    {
        MainWindow* w = nullptr;
        try {
            w = new MainWindow();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            delete quitAction;
            delete trayMenu;
            delete trayIcon;
            return 1;
        }
        w->show();
        // The tray tells the student while anybody plays this screen.
        TrayIndicator watched(trayIcon, [] { return QServerThread::watchers(); });
        watched.start();
        // "--quiet": screen sharing writes none of its per-frame lines.
        if (app.arguments().contains(QStringLiteral("--quiet")))
            QScreenThread::setQuiet(true);
        // "--whiteboard [FILE]": the whiteboard window opens at start as
        // well, with the board saved in FILE, or the PDF or picture FILE to
        // write on, when one is given.
        const QStringList args = app.arguments();
        const int wb = args.indexOf(QStringLiteral("--whiteboard"));
        if (wb > 0) {
            w->startBtnClick();
            if (wb + 1 < args.size() && !args[wb + 1].startsWith(QLatin1Char('-')) && boardWidget != nullptr)
                boardWidget->openFile(args[wb + 1]);
        }
        code = app.exec();
        delete w;
    }
    delete quitAction;
    delete trayMenu;
    delete trayIcon;
    return code;
}
