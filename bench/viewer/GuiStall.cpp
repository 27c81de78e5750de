// tavlo-bench-guistall X_ADDR Y_ADDR [DATAGRAMS]: how long the terminal's GUI
// thread (the whiteboard, the tray) is held by the viewer during a burst of
// commands. The terminal's main window runs in this process (team.bin and
// DISPLAY as for the terminal); a 10 ms timer on its GUI thread records how
// late each of its ticks comes, while another thread sends DATAGRAMS (200)
// show and stop commands to port 55555, one every 50 ms: show X_ADDR, stop,
// show Y_ADDR, stop, ... Prints the worst lateness and its distribution.
// Run by bench/viewer/guistall.sh, which provides the streams.
#include "MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

int main(int argc, char* argv[])
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s X_ADDR Y_ADDR [DATAGRAMS]\n", argv[0]);
        return 2;
    }
    const std::string xAddr = argv[1], yAddr = argv[2];
    const int datagrams = argc > 3 ? std::max(4, std::atoi(argv[3])) : 200;
    QApplication app(argc, argv);
    MainWindow window;

    // 0: before the burst, 1: during it, 2: done.
    std::atomic<int> phase{0};
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::seconds(4));  // the terminal settles
        const int sock = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(55555);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        phase = 1;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < datagrams; ++i) {
            const int step = i % 4;
            const std::string text = step == 0   ? R"({"messageId":2,"groupId":2,"ip":")" + xAddr + "\"}"
                                     : step == 2 ? R"({"messageId":2,"groupId":3,"ip":")" + yAddr + "\"}"
                                                 : R"({"messageId":1})";
            sendto(sock, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            std::this_thread::sleep_until(start + std::chrono::milliseconds(50 * (i + 1)));
        }
        // The last viewer's end is part of the burst.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        close(sock);
        phase = 2;
    });

    std::vector<double> lateMs;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double gap = static_cast<double>(sinceTick.nsecsElapsed()) / 1e6;
        sinceTick.restart();
        if (phase == 1)
            lateMs.push_back(std::max(0.0, gap - 10.0));
        else if (phase == 2)
            app.quit();
    });
    sinceTick.start();
    tick.start(10);
    app.exec();
    sender.join();

    std::sort(lateMs.begin(), lateMs.end());
    if (lateMs.empty()) {
        std::printf("no ticks during the burst\n");
        return 1;
    }
    const auto at = [&](double q) { return lateMs[std::min(lateMs.size() - 1, static_cast<size_t>(q * lateMs.size()))]; };
    std::printf("GUI thread during %d datagrams: %zu ticks of 10 ms, lateness median %.1f ms, p99 %.1f ms, "
                "worst %.1f ms (target: worst <= 50 ms)\n",
                datagrams, lateMs.size(), at(0.5), at(0.99), lateMs.back());
    return 0;
}
