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
// port cannot be bound, 2 for bad arguments.
#include "Classroom.h"
#include "Console.h"
#include "ConsoleWindow.h"
#include "QServerThread.h"
#include "StdinControl.h"
#include "StreamAddress.h"

#include <QApplication>
#include <QHostAddress>
#include <cstdio>
#include <memory>

static const char* const USAGE = "usage: tavlo-console [--bind ADDR] [--stdin] [--no-share]\n";

int main(int argc, char* argv[])
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QHostAddress bind(QHostAddress::Any);
    bool stdinControl = false, share = true;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--bind" && i + 1 < args.size()) {
            // The terminal's address rule, with every address allowed.
            QString why;
            const auto address = StreamAddress::parseLiteral(args[i + 1], &why);
            if (!address) {
                std::fprintf(stderr, "tavlo-console: --bind: '%s' %s\n%s", qPrintable(args[i + 1]), qPrintable(why),
                             USAGE);
                return 2;
            }
            bind = *address;
            ++i;
        } else if (args[i] == "--stdin") {
            stdinControl = true;
        } else if (args[i] == "--no-share") {
            share = false;
        } else if (args[i] == "-h" || args[i] == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "tavlo-console: bad argument '%s'\n%s", qPrintable(args[i]), USAGE);
            return 2;
        }
    }

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
