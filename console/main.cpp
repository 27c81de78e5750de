// tavlo-console: the classroom host's console.
//
//   tavlo-console [--bind ADDR] [--stdin]
//
// Lists the groups that announce themselves on UDP port 55555 (bound on
// ADDR, default every address), shows their screens as thumbnails and sends
// them the show and stop commands. --stdin also takes commands from
// standard input (see StdinControl.h). Exit status 1 when the port cannot be
// bound, 2 for bad arguments.
#include "Console.h"
#include "ConsoleWindow.h"
#include "StdinControl.h"

#include <QApplication>
#include <QHostAddress>
#include <cstdio>
#include <memory>

static const char* const USAGE = "usage: tavlo-console [--bind ADDR] [--stdin]\n";

int main(int argc, char* argv[])
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QHostAddress bind(QHostAddress::Any);
    bool stdinControl = false;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--bind" && i + 1 < args.size() && bind.setAddress(args[i + 1])) {
            ++i;
        } else if (args[i] == "--stdin") {
            stdinControl = true;
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
        std::fprintf(stderr, "tavlo-console: cannot listen on %s port 55555: %s\n", qPrintable(bind.toString()),
                     qPrintable(error));
        return 1;
    }
    std::printf("listening on %s:55555\n", qPrintable(bind.toString()));
    ConsoleWindow window(&console);
    window.show();
    std::unique_ptr<StdinControl> control;
    if (stdinControl)
        control = std::make_unique<StdinControl>(&console);
    return app.exec();
}
