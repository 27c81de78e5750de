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
// created, 2 for bad arguments.
#include "Classroom.h"
#include "ClassroomKey.h"
#include "Console.h"
#include "ConsoleWindow.h"
#include "QServerThread.h"
#include "StdinControl.h"

#include <QApplication>
#include <QHostAddress>
#include <cstdio>
#include <cstring>
#include <memory>

static const char* const USAGE = "usage: tavlo-console [--bind ADDR] [--stdin] [--no-share]\n"
                                 "       tavlo-console --print-key\n";

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
    bool stdinControl = false, share = true;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--bind" && i + 1 < args.size() && bind.setAddress(args[i + 1])) {
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
