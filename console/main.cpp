// tavlo-console: the classroom host's console.
//
//   tavlo-console [--bind ADDR] [--stdin] [--no-share]
//
// Lists the groups that announce themselves on UDP port 55555 (bound on
// ADDR, default every address), shows their screens as thumbnails and sends
// them the show and stop commands. It serves its own screen as a terminal
// does (rtsp://THIS:5000/cam_passby_chn0, the terminal's sharing library):
// that is "group 0", the teacher's screen, which the terminals pull from the
// "roomIp" of their team.bin. --no-share leaves it out; --stdin also takes
// commands from standard input (see StdinControl.h). Exit status 1 when the
// port cannot be bound, 2 for bad arguments. --help and --version as every
// program.
#include "Classroom.h"
#include "CommandLine.h"
#include "Console.h"
#include "ConsoleWindow.h"
#include "QServerThread.h"
#include "StdinControl.h"

#include <QApplication>
#include <QHostAddress>
#include <cstdio>
#include <memory>

static CommandLine commandLine()
{
    CommandLine cl("tavlo-console", "The teacher's console of a classroom: lists the group terminals, shows their "
                                    "screens as thumbnails,\nserves the teacher's screen and tells the groups what "
                                    "to show.");
    cl.addOption("--bind", "listen for the groups on this address only (default: every address)", "ADDR",
                 CommandLine::RequiredValue);
    cl.addOption("--no-share", "do not serve the teacher's screen on port 5000");
    cl.addOption("--stdin", "take commands from standard input as well (list, show N to G, stop G, ...)");
    return cl;
}

int main(int argc, char* argv[])
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    CommandLine cl = commandLine();
    if (cl.answerHelpOrVersion(argc, argv))  // before the display is opened
        return 0;
    QApplication app(argc, argv);
    QHostAddress bind(QHostAddress::Any);
    if (!cl.parse(app.arguments().mid(1))) {
        std::fputs(qPrintable(cl.errorText()), stderr);
        return 2;
    }
    if (cl.isSet("--bind") && !bind.setAddress(cl.value("--bind"))) {
        std::fprintf(stderr, "tavlo-console: --bind: '%s' is not an IPv4 or IPv6 address\n",
                     qPrintable(cl.value("--bind")));
        return 2;
    }
    const bool stdinControl = cl.isSet("--stdin"), share = !cl.isSet("--no-share");

    Console console;
    QString error;
    if (!console.start(bind, &error)) {
        std::fprintf(stderr, "tavlo-console: cannot listen on %s port %u: %s\n", qPrintable(bind.toString()),
                     Classroom::CLASSROOM_PORT, qPrintable(error));
        return 1;
    }
    std::printf("listening on %s:%u\n", qPrintable(bind.toString()), Classroom::CLASSROOM_PORT);
    if (share) {
        // The teacher's screen; a failure (port 5000 taken by a terminal on
        // this computer, no X shared memory) is reported on stderr and the
        // console goes on without it.
        QServerThread::Start(nullptr);
        if (QServerThread::GetStatus())
            std::printf("serving the teacher's screen on port %u\n", Classroom::LIVE_PORT);
    }
    int code = 0;
    {
        ConsoleWindow window(&console);
        window.show();
        std::unique_ptr<StdinControl> control;
        if (stdinControl)
            control = std::make_unique<StdinControl>(&console);
        code = app.exec();
    }
    QServerThread::Stop();
    return code;
}
