// tavlo-bench-clockgrab LABEL SECONDS: watches the clock pattern at the top
// left of the display (DISPLAY) and prints how old each new picture of it is
// when it first appears there: the glass-to-glass latency of whatever shows
// the pattern (a viewer pulling a stream of a screen the painter draws on).
#include "ClockPattern.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <vector>

static uint32_t nowMs()
{
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u);
}

static uint64_t monoMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LABEL SECONDS\n", argv[0]);
        return 2;
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(d);
    const int W = clockpattern::WIDTH, H = clockpattern::HEIGHT;
    std::vector<uint8_t> grey(static_cast<size_t>(W * H));
    std::vector<int> ages;
    long grabs = 0, invalid = 0;
    bool first = true;
    uint32_t lastSeq = 0;
    const uint64_t end = monoMs() + static_cast<uint64_t>(std::atoi(argv[2])) * 1000u;
    while (monoMs() < end) {
        XImage* img = XGetImage(d, root, 0, 0, W, H, AllPlanes, ZPixmap);
        const uint32_t seen = nowMs();
        if (!img)
            break;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const unsigned long p = XGetPixel(img, x, y);
                grey[static_cast<size_t>(y * W + x)] =
                    static_cast<uint8_t>((((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff)) / 3);
            }
        XDestroyImage(img);
        ++grabs;
        const auto r = clockpattern::read(grey.data(), W);
        if (!r.valid) {
            ++invalid;
        } else if (first || r.seq != lastSeq) {
            if (!first)  // the first reading may have been on screen for long
                ages.push_back(static_cast<int>(static_cast<int32_t>(seen - r.ms)));
            first = false;
            lastSeq = r.seq;
        }
        usleep(1000);
    }
    XCloseDisplay(d);
    if (ages.empty()) {
        std::printf("%s: no pictures of the clock seen (%ld grabs, %ld unreadable)\n", argv[1], grabs, invalid);
        return 1;
    }
    std::sort(ages.begin(), ages.end());
    long sum = 0;
    for (int a : ages)
        sum += a;
    const auto pct = [&](double q) { return ages[std::min(ages.size() - 1, static_cast<size_t>(q * ages.size()))]; };
    std::printf("%s: %zu pictures in %s s, latency median %d ms, p10 %d, p90 %d, min %d, max %d, mean %ld ms "
                "(%ld grabs, %ld unreadable)\n",
                argv[1], ages.size(), argv[2], pct(0.5), pct(0.1), pct(0.9), ages.front(), ages.back(),
                sum / static_cast<long>(ages.size()), grabs, invalid);
    return 0;
}
