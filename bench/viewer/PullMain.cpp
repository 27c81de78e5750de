// tavlo-bench-pull URL: runs one viewer on URL until it ends by itself or
// the process gets SIGINT/SIGTERM; the latency benchmark's viewer.
#include "QPullThread.h"

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>

static volatile std::sig_atomic_t stopRequested = 0;

static void onSignal(int) { stopRequested = 1; }

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
    QPullThread viewer(nullptr, QString::fromLocal8Bit(argv[1]));
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
    return 0;
}
