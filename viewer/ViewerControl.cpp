#include "ViewerControl.h"

#include "QPullThread.h"

#include <QPointer>

ViewerControl::ViewerControl(QObject* parent) : QObject(parent) {}

ViewerControl::~ViewerControl()
{
    pending_.reset();
    if (pullThread) {
        pullThread->shouldTerminate = true;
        pullThread->wait();
        delete pullThread;
        pullThread = nullptr;
    }
}

void ViewerControl::show(const QString& url, bool multicast)
{
    if (pullThread && pullThread->switchTo(url, multicast)) {
        pending_.reset();
        return;
    }
    if (pullThread) {
        // Ending: the next one starts once it has finished.
        pending_ = std::make_pair(url, multicast);
        if (pullThread->isFinished())
            reap();
        return;
    }
    start(url, multicast);
}

void ViewerControl::stop()
{
    pending_.reset();
    if (!pullThread)
        return;
    pullThread->shouldTerminate = true;
    if (pullThread->isFinished())
        reap();
}

void ViewerControl::start(const QString& url, bool multicast)
{
    pullThread = new QPullThread(this, url, multicast);
    // Queued: runs in the GUI thread once the viewer thread has finished. By
    // then the viewer may have been reaped already (a show that came after
    // its end), and a new one made, maybe at the same address: the guard is
    // null for a deleted viewer.
    const QPointer<QPullThread> viewer(pullThread);
    connect(pullThread, &QThread::finished, this, [this, viewer] {
        if (viewer && viewer == pullThread)
            reap();
    });
    pullThread->start(QThread::InheritPriority);
}

void ViewerControl::reap()
{
    if (!pullThread)
        return;
    // The thread has emitted finished (or reports finished): only its exit is left.
    pullThread->wait();
    delete pullThread;
    pullThread = nullptr;
    if (pending_) {
        const auto [url, multicast] = *pending_;
        pending_.reset();
        start(url, multicast);
    }
}
