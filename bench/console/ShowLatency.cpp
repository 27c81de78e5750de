// tavlo-bench-console-show [GROUPS] [ROUNDS]
//
// Time from "show group N to all" at the console to group N's picture on
// every other group's screen. GROUPS terminals (default 3), each in a network
// namespace of its own with a 1920x1080 Xvfb painted in a colour of its own,
// announce to a tavlo-console (--no-share) driven through its stdin. Each
// round tells every group to show the next group's screen and samples the
// other screens (five points each, straight from the X servers) until they
// show that group's colour; then "stop all" and back to their own colours.
// Prints each round's times and the median and worst over all groups and
// rounds. Needs root (namespaces); runs itself in a private one.
#include "ConsoleSupport.h"
#include "NetSupport.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

const QColor COLOURS[] = {QColor(0xe0, 0x20, 0x20), QColor(0x20, 0x20, 0xe0), QColor(0x20, 0xe0, 0x20),
                          QColor(0xe0, 0xe0, 0x20), QColor(0xe0, 0x20, 0xe0), QColor(0x20, 0xe0, 0xe0)};

struct Group {
    std::unique_ptr<tsupport::GroupNet> net;
    std::unique_ptr<tsupport::XServer> x;
    std::unique_ptr<tsupport::TeamDir> dir;
    std::unique_ptr<tsupport::Terminal> terminal;
    std::unique_ptr<QProcess> painter;
    Display* display = nullptr;
};

// True when five points of the display's root window are near colour.
bool covered(Display* d, QColor colour)
{
    const int w = DisplayWidth(d, 0), h = DisplayHeight(d, 0);
    const int points[5][2] = {{w / 2, h / 2}, {8, 8}, {w - 9, 8}, {8, h - 9}, {w - 9, h - 9}};
    for (const auto& p : points) {
        XImage* img = XGetImage(d, DefaultRootWindow(d), p[0], p[1], 1, 1, AllPlanes, ZPixmap);
        if (!img)
            return false;
        const unsigned long px = XGetPixel(img, 0, 0);
        XDestroyImage(img);
        const QColor got(static_cast<int>((px >> 16) & 0xff), static_cast<int>((px >> 8) & 0xff),
                         static_cast<int>(px & 0xff));
        if (!tsupport::near(got, colour))
            return false;
    }
    return true;
}

// Waits until every group in which shows its colour in want; returns each
// one's time (ms since clock started), -1 for a miss by the deadline.
std::vector<qint64> waitForColours(const std::vector<Group*>& which, const std::vector<QColor>& want,
                                   const QElapsedTimer& clock)
{
    std::vector<qint64> at(which.size(), -1);
    const qint64 deadline = clock.elapsed() + tsupport::SLOW_MS;
    size_t done = 0;
    while (done < which.size() && clock.elapsed() < deadline) {
        for (size_t i = 0; i < which.size(); ++i) {
            if (at[i] < 0 && covered(which[i]->display, want[i])) {
                at[i] = clock.elapsed();
                ++done;
            }
        }
        usleep(2000);
    }
    return at;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (getuid() == 0 && !tsupport::isolatedNetwork() && !getenv("TAVLO_BENCH_NS")) {
        setenv("TAVLO_BENCH_NS", "1", 1);
        std::vector<char*> args = {const_cast<char*>("unshare"), const_cast<char*>("-n"), const_cast<char*>("sh"),
                                   const_cast<char*>("-c"), const_cast<char*>("ip link set lo up && exec \"$@\""),
                                   const_cast<char*>("bench")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("unshare", args.data());
        std::perror("unshare");
        return 1;
    }
    QCoreApplication app(argc, argv);
    if (!tsupport::isolatedNetwork()) {
        std::fprintf(stderr, "needs a private network namespace (run as root)\n");
        return 1;
    }
    const int groups = std::clamp(argc > 1 ? std::atoi(argv[1]) : 3, 2, 6);
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 6);

    tsupport::XServer consoleX(1280, 720, false);
    std::vector<std::unique_ptr<Group>> gs;
    for (int k = 1; k <= groups; ++k) {
        auto g = std::make_unique<Group>();
        g->net = std::make_unique<tsupport::GroupNet>(k);
        g->x = std::make_unique<tsupport::XServer>(1920, 1080, true);
        if (!g->net->ok() || !g->x->ok()) {
            std::fprintf(stderr, "cannot set up group %d\n", k);
            return 1;
        }
        g->painter = std::make_unique<QProcess>();
        g->painter->setProcessEnvironment(g->x->env());
        g->painter->start(tsupport::buildDir() + "/tavlo-test-painter", {"color", COLOURS[k - 1].name().mid(1)});
        g->painter->waitForReadyRead(tsupport::SLOW_MS);
        g->dir = std::make_unique<tsupport::TeamDir>(g->net->hostAddress(), k);
        g->terminal = std::make_unique<tsupport::Terminal>(g->dir->path(), g->x->env(),
                                                           g->net->enter(tsupport::tavloPath()), "nsenter");
        g->display = XOpenDisplay(g->x->display().toLocal8Bit().constData());
        if (!g->display || !g->terminal->waitForOutput("SendTo:", tsupport::SLOW_MS)) {
            std::fprintf(stderr, "group %d's terminal did not start\n", k);
            return 1;
        }
        gs.push_back(std::move(g));
    }
    csupport::ConsoleProcess console(consoleX.env(), {"--no-share"});
    for (int k = 1; k <= groups; ++k)
        if (!console.waitForOutput(QString("group %1 at 10.214.%1.2 livePort 5000: present").arg(k),
                                   tsupport::SLOW_MS)) {
            std::fprintf(stderr, "group %d not seen by the console\n", k);
            return 1;
        }

    std::printf("%d groups, %d rounds; load average %s", groups, rounds,
                tsupport::run("cat", {"/proc/loadavg"}, QProcessEnvironment::systemEnvironment()).constData());
    std::vector<qint64> all, worsts;
    QElapsedTimer clock;
    for (int r = 0; r < rounds; ++r) {
        const int source = r % groups + 1;
        std::vector<Group*> others;
        std::vector<QColor> want, own;
        for (int k = 1; k <= groups; ++k)
            if (k != source) {
                others.push_back(gs[static_cast<size_t>(k - 1)].get());
                want.push_back(COLOURS[source - 1]);
                own.push_back(COLOURS[k - 1]);
            }
        clock.start();
        const QStringList answer = console.ask(QString("show %1 to all").arg(source), tsupport::SLOW_MS);
        if (answer.isEmpty() || !answer.last().startsWith("sent")) {
            std::fprintf(stderr, "console refused: %s\n", qPrintable(answer.join(' ')));
            return 1;
        }
        const std::vector<qint64> at = waitForColours(others, want, clock);
        std::printf("round %d, group %d to all:", r + 1, source);
        qint64 worst = 0;
        for (qint64 t : at) {
            std::printf(" %lld", static_cast<long long>(t));
            if (t < 0) {
                std::printf(" (missed)");
                continue;
            }
            all.push_back(t);
            worst = std::max(worst, t);
        }
        worsts.push_back(worst);
        std::printf(" ms\n");
        std::fflush(stdout);
        console.ask("stop all", tsupport::SLOW_MS);
        QElapsedTimer back;
        back.start();
        waitForColours(others, own, back);
    }
    if (all.empty())
        return 1;
    std::sort(all.begin(), all.end());
    std::sort(worsts.begin(), worsts.end());
    std::printf("show to all -> picture on a group's screen: median %lld ms, worst %lld ms (%zu screens); "
                "per command, the last screen: median %lld ms\n",
                static_cast<long long>(all[all.size() / 2]), static_cast<long long>(all.back()), all.size(),
                static_cast<long long>(worsts[worsts.size() / 2]));
    for (auto& g : gs) {
        XCloseDisplay(g->display);
        g->terminal.reset();
        g->painter->kill();
        g->painter->waitForFinished();
    }
    return 0;
}
