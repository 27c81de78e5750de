#ifndef TAVLO_QPULLTHREAD_H
#define TAVLO_QPULLTHREAD_H

#include <QMutex>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>

// The stream viewer: pulls one RTSP stream (RTP over the RTSP TCP
// connection), decodes its H.264 video and shows each picture the moment it
// is decoded in a borderless SDL window "多屏" that covers the desktop. It
// stays live: pictures that arrive late are dropped, not queued (LiveGate).
//
// The GUI thread creates, starts, stops (shouldTerminate, then wait) and
// deletes it; everything in run() happens in the viewer thread. The thread
// ends by itself when the stream ends, fails, or stays silent for more than
// 10 s; it then empties src, so that its owner replaces it on the next
// request, even for the same address.
class QPullThread : public QThread {
public:
    QPullThread(QObject* parent, QString src);

    // GUI thread: the address this viewer pulls, or "" once run() has ended.
    // Read under the lock, so a comparison never sees a half-emptied value.
    QString currentSrc() const;

    // Wall clock in milliseconds.
    static int64_t getNow();
    // Installed as FFmpeg's interrupt callback (viewer thread): aborts a
    // blocking open or read once it has lasted more than 10 s, or at once
    // when the owner asked the viewer to stop. ctx is the viewer.
    static int interrupt_cb(void* ctx);

    // The stream address; emptied (under srcMutex) when run() ends.
    QString src;
    // Set by the owner to ask the thread to end; polled between packets and
    // by the interrupt callback during every blocking network operation.
    std::atomic<bool> shouldTerminate{false};
    // Set by the owner before shouldTerminate when another viewer follows at
    // once: the full-screen window (with its last picture) stays for it
    // rather than closing. A viewer that gets no window from its predecessor
    // makes its own; one that ends without using the window it was left
    // closes it.
    std::atomic<bool> keepWindow{false};

protected:
    void run() override;

private:
    mutable QMutex srcMutex;
};

// The current viewer, or null. Written only by the main window (GUI thread).
extern QPullThread* pullThread;
// Wall-clock milliseconds at which the current blocking open or packet read
// began; -1 = none yet. Written by the constructor (before the thread starts)
// and afterwards only in the viewer thread.
extern std::atomic<int64_t> read_begin_time;

#endif
