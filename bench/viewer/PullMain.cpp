// tavlo-bench-pull URL: runs one viewer on URL until it ends by itself or the
// process gets SIGINT/SIGTERM; the latency benchmark's viewer.
//
// When the stream shows the painter's clock pattern (bench/viewer/latency.sh),
// it reads the time painted into every shown picture and, at the end, prints
// how old the pictures were at each stage of the viewer (median and p90 over
// all pictures, wall-clock milliseconds since the painter drew them):
//   stage <name> age median M p90 P, step median S p90 Q
// with the stages "received" (the access unit left the network end),
// "decoded", "gated" (the late-picture gate let it through), "drawn"
// (converted into the window's image) and "presented" (on its way to the
// screen); "step" is the time since the stage before.
#include "ClockPattern.h"
#include "QPullThread.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

const char* const STAGES[] = {"received", "decoded", "gated", "drawn", "presented"};
constexpr int STAGE_COUNT = 5;

// Wall-clock and steady-clock microseconds now.
int64_t wallUs()
{
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

int64_t steadyUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Ages {
    std::mutex mutex;
    // Per stage, the age of every picture read, in microseconds.
    std::vector<int64_t> at[STAGE_COUNT];
    uint32_t lastSeq = 0;
    bool any = false;
};

int64_t percentile(std::vector<int64_t> v, double q)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char* argv[])
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tavlo-bench-pull URL\n");
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    Ages ages;
    QPullThread viewer(nullptr, QString::fromLocal8Bit(argv[1]));
    // Viewer thread, after each shown picture.
    viewer.onPicture = [&ages](const uint8_t* luma, int stride, int w, int h, const PictureTimes& t) {
        if (w < clockpattern::WIDTH || h < clockpattern::HEIGHT)
            return;
        const clockpattern::Reading r = clockpattern::read(luma, stride);
        std::lock_guard<std::mutex> lock(ages.mutex);
        if (!r.valid || (ages.any && r.seq == ages.lastSeq))
            return;  // the same clock again: not a new picture of it
        ages.any = true;
        ages.lastSeq = r.seq;
        // The painted time is the low 32 bits of the wall clock in ms.
        const int64_t offset = wallUs() - steadyUs();
        const int64_t stage[STAGE_COUNT] = {t.receivedUs, t.decodedUs, t.gatedUs, t.drawnUs, t.presentedUs};
        for (int i = 0; i < STAGE_COUNT; ++i) {
            const uint32_t wallMs = static_cast<uint32_t>((stage[i] + offset) / 1000);
            ages.at[i].push_back(static_cast<int64_t>(static_cast<int32_t>(wallMs - r.ms)) * 1000 +
                                 (stage[i] + offset) % 1000);
        }
    };
    viewer.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stopRequested)
            viewer.shouldTerminate = true;
        if (viewer.isFinished())
            app.quit();
    });
    poll.start(20);
    app.exec();
    viewer.wait();

    std::lock_guard<std::mutex> lock(ages.mutex);
    if (ages.at[0].empty())
        return 0;
    std::printf("%zu pictures of the clock shown\n", ages.at[0].size());
    for (int i = 0; i < STAGE_COUNT; ++i) {
        std::printf("stage %-9s age median %6.1f p90 %6.1f ms", STAGES[i],
                    static_cast<double>(percentile(ages.at[i], 0.5)) / 1000.0,
                    static_cast<double>(percentile(ages.at[i], 0.9)) / 1000.0);
        if (i == 0) {
            std::printf(" (capture, encoding, network, RTSP and RTP on the way)\n");
            continue;
        }
        std::vector<int64_t> step;
        for (size_t k = 0; k < ages.at[i].size(); ++k)
            step.push_back(ages.at[i][k] - ages.at[i - 1][k]);
        std::printf(", step median %5.1f p90 %5.1f ms\n", static_cast<double>(percentile(step, 0.5)) / 1000.0,
                    static_cast<double>(percentile(step, 0.9)) / 1000.0);
    }
    return 0;
}
