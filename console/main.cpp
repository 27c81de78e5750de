// tavlo-console: the classroom host's console.
//
//   tavlo-console [--bind ADDR] [--stdin] [--no-share]
//   tavlo-console --print-key
//
// Lists the groups that announce themselves on UDP port 55555 (bound on
// ADDR, default every address), shows their screens as thumbnails and sends
// them the show and stop commands. It serves its own screen as a terminal
// does (rtsp://THIS:5000/cam_passby_chn0, the terminal's sharing library):
// that is "group 0", the teacher's screen, which the terminals pull from the
// "roomIp" of their team.bin. --no-share leaves it out; --stdin also takes
// commands from standard input (see StdinControl.h).
//
// Every command to a terminal that announces a nonce is signed with the
// classroom key, kept in the user's configuration folder (created at the
// first start, mode 0600; ClassroomKey::defaultPath). --print-key prints its
// public half in base64 and its fingerprint, one line each, and exits.
//
// Exit status 1 when the port cannot be bound or the key cannot be read or
// created, 2 for bad arguments. --help and --version as every program.
#include "Classroom.h"
#include "ClassroomKey.h"
#include "CommandLine.h"
#include "Console.h"
#include "ConsoleWindow.h"
#include "QServerThread.h"
#include "StdinControl.h"
#include "StreamAddress.h"

#include <QApplication>
#include <QHostAddress>
#include <cstdio>
#include <cstring>
#include <memory>

static CommandLine commandLine()
{
    CommandLine cl("tavlo-console", "The teacher's console of a classroom: lists the group terminals, shows their "
                                    "screens as thumbnails,\nserves the teacher's screen and tells the groups what "
                                    "to show.");
    cl.addUsage("[--bind ADDR] [--stdin] [--no-share]");
    cl.addUsage("--print-key");
    cl.addOption("--bind", "listen for the groups on this address only (default: every address)", "ADDR",
                 CommandLine::RequiredValue);
    cl.addOption("--no-share", "do not serve the teacher's screen on port 5000");
    cl.addOption("--stdin", "take commands from standard input as well (list, show N to G, stop G, ...)");
    cl.addOption("--print-key", "print the classroom key's public half (base64, for team.bin's \"hostKey\") and "
                                "its fingerprint, and exit");
    cl.addFile("~/.config/tavlo/classroom-key.json", "the classroom key pair, created at the first start");
    return cl;
}

// The console's classroom key, created at the first start.
static std::optional<ClassroomKey> classroomKey(const QString& path)
{
    bool created = false;
    QString error;
    std::optional<ClassroomKey> key = ClassroomKey::loadOrCreate(path, &created, &error);
    if (!key)
        std::fprintf(stderr, "tavlo-console: cannot use the classroom key: %s\n", qPrintable(error));
    else if (created)
        std::fprintf(stderr, "tavlo-console: created the classroom key %s\n", qPrintable(path));
    return key;
}

int main(int argc, char* argv[])
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    CommandLine cl = commandLine();
    if (cl.answerHelpOrVersion(argc, argv))  // before the display is opened
        return 0;
    if (argc == 2 && std::strcmp(argv[1], "--print-key") == 0) {
        // No window: this works without a display.
        QCoreApplication app(argc, argv);
        const std::optional<ClassroomKey> key = classroomKey(ClassroomKey::defaultPath());
        if (!key)
            return 1;
        std::printf("%s\nfingerprint %s\n", qPrintable(key->publicKey().base64()),
                    qPrintable(key->publicKey().fingerprint()));
        return 0;
    }
    QApplication app(argc, argv);
    QHostAddress bind(QHostAddress::Any);
    if (!cl.parse(app.arguments().mid(1))) {
        std::fputs(qPrintable(cl.errorText()), stderr);
        return 2;
    }
    if (cl.isSet("--bind")) {
        // The terminal's address rule, with every address allowed.
        QString why;
        const auto address = StreamAddress::parseLiteral(cl.value("--bind"), &why);
        if (!address) {
            std::fprintf(stderr, "tavlo-console: --bind: '%s' %s\n", qPrintable(cl.value("--bind")), qPrintable(why));
            return 2;
        }
        bind = *address;
    }
    if (cl.isSet("--print-key")) {
        std::fputs("tavlo-console: --print-key is given alone\nTry 'tavlo-console --help' for more information.\n",
                   stderr);
        return 2;
    }
    const bool stdinControl = cl.isSet("--stdin"), share = !cl.isSet("--no-share");

    const QString keyPath = ClassroomKey::defaultPath();
    const std::optional<ClassroomKey> key = classroomKey(keyPath);
    if (!key)
        return 1;
    Console console;
    console.setKey(*key, keyPath);
    std::printf("classroom key %s (fingerprint %s)\n", qPrintable(keyPath), qPrintable(key->publicKey().fingerprint()));
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
