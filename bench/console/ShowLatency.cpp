// tavlo-bench-console-show [GROUPS] [ROUNDS]
//
// Time from "show group N to all" at the console to group N's picture on
// every other group's screen. GROUPS terminals (default 3), each in a network
// namespace of its own with a 1920x1080 Xvfb painted in a colour of its own,
// announce to a tavlo-console (--no-share) driven through its stdin. Each
// round tells every group to show the next group's screen and samples the
// other screens (five points each, straight from the X servers) until they
// show that group's colour; then "stop all" and back to their own colours.
// Then, for comparison, the same source is shown on each other group alone,
// one after the other ("show N to G", then "stop G"). Prints each round's
// times and the median and worst over all groups and rounds, for both; the
// time until every other screen has the picture, by "show to all" and by one
// show on each in turn; and where the time goes: when the source terminal's
// full stream grabbed and encoded its first picture (its stdout lines).
// Needs root (namespaces); runs itself in a private one.
#include "ConsoleSupport.h"
#include "NetSupport.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <cstdio>
#include <functional>
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
                                   const QElapsedTimer& clock, const std::function<void()>& meanwhile = {})
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
        if (meanwhile)
            meanwhile();
        usleep(2000);
    }
    return at;
}

// When the source terminal's full stream woke for a show: its first grab
// ("XShmGetImage(", the first viewer's PLAY has arrived) and its first
// encoded picture ("diff: "), in ms on clock; -1 until seen. The source
// sleeps between shows (nobody plays its full stream then).
struct SourceStages {
    SourceStages(tsupport::Terminal* t, const QElapsedTimer& c)
        : terminal(t), clock(c), grabs(t->countOutput("XShmGetImage(")), encoded(t->countOutput("diff: "))
    {
    }
    void look()
    {
        if (grabbedAt < 0 && terminal->countOutput("XShmGetImage(") > grabs)
            grabbedAt = clock.elapsed();
        if (encodedAt < 0 && terminal->countOutput("diff: ") > encoded)
            encodedAt = clock.elapsed();
    }
    tsupport::Terminal* terminal;
    const QElapsedTimer& clock;
    int grabs, encoded;
    qint64 grabbedAt = -1, encodedAt = -1;
};

qint64 median(std::vector<qint64> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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
    std::vector<qint64> all, worsts, singles, turns, allGrabbed, allEncoded, singleGrabbed, singleEncoded;
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
        tsupport::Terminal* sourceTerminal = gs[static_cast<size_t>(source - 1)]->terminal.get();
        clock.start();
        SourceStages stages(sourceTerminal, clock);
        const QStringList answer = console.ask(QString("show %1 to all").arg(source), tsupport::SLOW_MS);
        if (answer.isEmpty() || !answer.last().startsWith("sent")) {
            std::fprintf(stderr, "console refused: %s\n", qPrintable(answer.join(' ')));
            return 1;
        }
        const std::vector<qint64> at = waitForColours(others, want, clock, [&] { stages.look(); });
        stages.look();
        allGrabbed.push_back(stages.grabbedAt);
        allEncoded.push_back(stages.encodedAt);
        std::printf("round %d, group %d to all: source grabs at %lld, first picture encoded at %lld; screens:", r + 1,
                    source, static_cast<long long>(stages.grabbedAt), static_cast<long long>(stages.encodedAt));
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

        // One show at a time, to each of the same groups.
        std::printf("round %d, group %d to each alone:", r + 1, source);
        qint64 inTurn = 0;  // one show on each, one after the other
        for (size_t i = 0; i < others.size(); ++i) {
            const int target = static_cast<int>(std::find_if(gs.begin(), gs.end(), [&](const auto& g) {
                                                    return g.get() == others[i];
                                                }) - gs.begin()) + 1;
            clock.start();
            SourceStages one1(sourceTerminal, clock);
            const QStringList one = console.ask(QString("show %1 to %2").arg(source).arg(target), tsupport::SLOW_MS);
            if (one.isEmpty() || !one.last().startsWith("sent"))
                return 1;
            const qint64 t = waitForColours({others[i]}, {want[i]}, clock, [&] { one1.look(); })[0];
            one1.look();
            singleGrabbed.push_back(one1.grabbedAt);
            singleEncoded.push_back(one1.encodedAt);
            std::printf(" %lld (grab %lld, encoded %lld)", static_cast<long long>(t),
                        static_cast<long long>(one1.grabbedAt), static_cast<long long>(one1.encodedAt));
            if (t >= 0)
                singles.push_back(t);
            inTurn += t >= 0 ? t : tsupport::SLOW_MS;
            console.ask(QString("stop %1").arg(target), tsupport::SLOW_MS);
            back.start();
            waitForColours({others[i]}, {own[i]}, back);
        }
        turns.push_back(inTurn);
        std::printf(" ms, %lld ms in turn\n", static_cast<long long>(inTurn));
        std::fflush(stdout);
    }
    if (all.empty())
        return 1;
    std::sort(all.begin(), all.end());
    std::sort(worsts.begin(), worsts.end());
    std::sort(singles.begin(), singles.end());
    std::printf("show to all -> picture on a group's screen: median %lld ms, worst %lld ms (%zu screens); "
                "per command, the last screen: median %lld ms\n",
                static_cast<long long>(all[all.size() / 2]), static_cast<long long>(all.back()), all.size(),
                static_cast<long long>(worsts[worsts.size() / 2]));
    if (!singles.empty())
        std::printf("one show at a time -> picture: median %lld ms, worst %lld ms (%zu screens)\n",
                    static_cast<long long>(singles[singles.size() / 2]), static_cast<long long>(singles.back()),
                    singles.size());
    std::printf("every other screen: show to all median %lld ms, one show on each in turn median %lld ms\n",
                static_cast<long long>(median(worsts)), static_cast<long long>(median(turns)));
    // Where the time goes: up to the source's first grab, the console's
    // datagram and the first viewer's RTSP set-up (DESCRIBE, SETUP, PLAY);
    // then the source's first full-size keyframe; the rest, the pictures'
    // way to the screens (the viewers' decoding and windows).
    std::printf("where the time goes (medians): show to all: source grabs at %lld ms, encodes its first picture at "
                "%lld ms, last screen at %lld ms; one show: source grabs at %lld ms, encodes at %lld ms, "
                "screen at %lld ms\n",
                static_cast<long long>(median(allGrabbed)), static_cast<long long>(median(allEncoded)),
                static_cast<long long>(median(worsts)), static_cast<long long>(median(singleGrabbed)),
                static_cast<long long>(median(singleEncoded)), static_cast<long long>(median(singles)));
    for (auto& g : gs) {
        XCloseDisplay(g->display);
        g->terminal.reset();
        g->painter->kill();
        g->painter->waitForFinished();
    }
    return 0;
}
