// The group terminal's entry point: tray icon with its quit action, then the
// main window (splash, configuration, messaging, screen sharing, viewer).
#include "BoardFolder.h"
#include "BoardForm.h"
#include "BoardWidget.h"
#include "CommandLine.h"
#include "MainWindow.h"
#include "QScreenThread.h"
#include "QServerThread.h"
#include "TrayIndicator.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <cstdio>
#include <exception>

// TAVLO_CONFIG_DIR and TAVLO_AUTOSTART_FILE: where the package puts the
// classroom's team.bin and the autostart entry (packaging/CMakeLists.txt).
static CommandLine commandLine()
{
    CommandLine cl("tavlo", "The group terminal of a classroom: announces its group to the classroom host, shares "
                            "this screen\nover RTSP (port 5000), shows the streams the host names, carries a "
                            "whiteboard.");
    cl.addOption("--config-dir", "read team.bin from DIR and never write there (installed: " TAVLO_CONFIG_DIR ")",
                 "DIR", CommandLine::RequiredValue);
    cl.addOption("--quiet", "leave out screen sharing's per-frame lines on standard output");
    cl.addOption("--whiteboard", "open the whiteboard at start, with the board saved in FILE", "FILE",
                 CommandLine::OptionalValue);
    cl.addFile("team.bin", "the configuration in the working directory, written with defaults when missing");
    cl.addFile(TAVLO_CONFIG_DIR "/team.bin", "the installed configuration, read by the terminal started at login");
    cl.addFile(TAVLO_AUTOSTART_FILE, "starts \"tavlo --quiet --config-dir " TAVLO_CONFIG_DIR "\" at every login");
    cl.addFile("boards/", "the whiteboard's boards and exported pages (board-*.tvboard, .png, .pdf), under the "
                          "working directory; with --config-dir under $XDG_DATA_HOME/tavlo (~/.local/share/tavlo)");
    return cl;
}

int main(int argc, char* argv[])
{
    // Diagnostics are whole lines, so that a reader on a pipe sees each at once.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    CommandLine cl = commandLine();
    if (cl.answerHelpOrVersion(argc, argv))  // before the display is opened
        return 0;
    QApplication app(argc, argv);  // takes Qt's own options (-display, -platform) out
    if (!cl.parse(app.arguments().mid(1))) {
        std::fputs(qPrintable(cl.errorText()), stderr);
        return 2;
    }
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
        const QString configDir = cl.value("--config-dir");
        // A terminal given its configuration folder (the one started at
        // login) has no working directory of its own to write into: the
        // whiteboard's files go to the user's data folder.
        if (!configDir.isEmpty())
            BoardFolder::setPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                 QStringLiteral("/tavlo/boards"));
        try {
            w = new MainWindow(nullptr, configDir);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            if (!configDir.isEmpty())
                std::fprintf(stderr, "tavlo: the configuration file is %s/team.bin\n", qPrintable(configDir));
            delete quitAction;
            delete trayMenu;
            delete trayIcon;
            return 1;
        }
        w->show();
        // The tray tells the student while anybody plays this screen, and
        // apart from that while the teacher's console looks at its thumbnail.
        TrayIndicator watched(trayIcon, [] { return QServerThread::watchers(); },
                              [] { return QServerThread::thumbnailWatchers(); });
        watched.start();
        if (cl.isSet("--quiet"))
            QScreenThread::setQuiet(true);
        // "--whiteboard [FILE]": the whiteboard window opens at start as
        // well, with the board saved in FILE, or the PDF or picture FILE to
        // write on, when one is given.
        if (cl.isSet("--whiteboard")) {
            w->startBtnClick();
            if (!cl.value("--whiteboard").isEmpty() && boardWidget != nullptr)
                boardWidget->openFile(cl.value("--whiteboard"));
        }
        code = app.exec();
        delete w;
    }
    delete quitAction;
    delete trayMenu;
    delete trayIcon;
    return code;
}
