#ifndef TAVLO_QPULLTHREAD_H
#define TAVLO_QPULLTHREAD_H

#include <QMutex>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>

class FullScreen;

// The steady-clock times (microseconds, Utils::clocktime's clock) of one shown
// picture on its way through the viewer.
struct PictureTimes {
    int64_t receivedUs = 0;   // its access unit left the network end (RtspSource)
    int64_t decodedUs = 0;    // the decoder gave the picture
    int64_t gatedUs = 0;      // the late-picture gate let it through (LiveGate)
    int64_t drawnUs = 0;      // converted into the window's image
    int64_t presentedUs = 0;  // the image went to the X server (SDL_UpdateWindowSurface returned)
};

// The stream viewer: pulls an RTSP stream (RTP over the RTSP TCP connection,
// RtspSource), decodes its H.264 video (PictureDecoder) and shows each
// picture the moment it is decoded in the borderless window "多屏" that covers
// the desktop (FullScreen). It stays live: pictures that arrive late are
// dropped, not queued (LiveGate).
//
// The owner (ViewerControl, GUI thread) creates and starts it for an address,
// may then point it at another address (switchTo: the same thread and window
// go on with the new stream, the last picture staying up until the new one's
// first), and stops it (shouldTerminate). It never waits for the thread
// except when the process ends. The thread ends by itself when its stream
// ends, fails, stays silent for more than 10 s, or delivers no first picture
// within 2 s ("No picture within 2 s"); the window closes and the desktop
// shows again. It then empties src, so that its owner replaces it on the
// next request, even for the same address.
//
// Set-up failures print one line (pinned: "Could not open the stream",
// "Could not find a video stream", "Could not find a decoder", "No picture
// within 2 s", ...) and then "runtime error" (pinned); SDL failures print only
// the latter. A stop or a switch is no failure and prints nothing. Every
// time limit is on the steady clock.
class QPullThread : public QThread {
public:
    // The longest a new stream may take to deliver its first picture.
    static constexpr int64_t FIRST_PICTURE_MS = 2000;
    // The longest a stream may stay silent once it plays.
    static constexpr int64_t STALL_LIMIT_MS = 10000;

    // Makes the allocator hand large blocks (pictures, textures, the
    // window's buffers) straight back to the system when freed (see
    // QPullThread.cpp); process-wide, done once.
    // multicast: take the stream by multicast first (see play()).
    QPullThread(QObject* parent, QString src, bool multicast = false);
    ~QPullThread() override;

    // GUI thread: the address this viewer pulls (or is about to), or "" once
    // run() has ended. Read under the lock, so a comparison never sees a
    // half-written value.
    QString currentSrc() const;
    // GUI thread: asks the running viewer to show url instead, in the same
    // window. True when taken (also when url is what it already shows); false
    // when the viewer is ending or has ended: the owner then starts another
    // once this one has finished.
    // multicast is kept for the next stream it opens; the same address
    // again goes on as it is, whatever the flag.
    bool switchTo(const QString& url, bool multicast = false);

    // Steady clock in milliseconds.
    static int64_t getNow();
    // Whether the viewer thread gives up what it waits for (1) or goes on
    // (0); asked between every short wait for data. ctx is the viewer.
    // 1 when the owner asked it to stop or to show another stream, when the
    // current stream has not delivered its first picture within
    // FIRST_PICTURE_MS, or when the current wait for data (read_begin_time)
    // has lasted more than STALL_LIMIT_MS.
    static int interrupt_cb(void* ctx);

    // Benchmark hook, set before start(): called in the viewer thread after
    // each shown picture with its luma plane and times.
    std::function<void(const uint8_t* luma, int stride, int w, int h, const PictureTimes&)> onPicture;

    // The stream address (under srcMutex); emptied when run() ends.
    QString src;
    // Set by the owner to ask the thread to end; looked at between short
    // waits for data and before every picture is shown.
    std::atomic<bool> shouldTerminate{false};

protected:
    void run() override;

private:
    enum class Outcome { Stopped, Switched, Ended, Failed };
    // Shows url until it ends or the owner wants something else.
    // By multicast first when multicast is set: when the stream fails to
    // come that way or its packets stop for RtspSource::MULTICAST_SILENCE_US,
    // it is opened again over TCP with one line (pinned): "Viewer: no
    // multicast from URL; reopened over TCP"; the first picture then has
    // FIRST_PICTURE_MS from the reopening.
    Outcome play(const QString& url, bool multicast, FullScreen& screen);
    // What the viewer does now that interrupt_cb said 1. Throws (after its
    // line) when the first picture is overdue.
    Outcome interrupted();
    bool switchRequested() const { return requested_.load() != playing_.load(); }

    mutable QMutex srcMutex;
    // Under srcMutex: the run has ended (src is empty); no switch is taken.
    bool ended_ = false;
    // Under srcMutex: src is to be taken by multicast first.
    bool multicast_ = false;
    // Bumped (under srcMutex) by every switch to another address; playing_
    // is the value whose address the viewer thread plays.
    std::atomic<uint64_t> requested_{0};
    std::atomic<uint64_t> playing_{0};
    // Steady ms by which the stream being played must show its first
    // picture; 0 when none is being opened.
    std::atomic<int64_t> firstPictureDeadline_{0};
    std::atomic<bool> pictureShown_{false};
};

// The current viewer, or null. Written only by ViewerControl (GUI thread).
extern QPullThread* pullThread;
// Steady milliseconds at which the viewer began to wait for the current
// stream's data (its start, then each access unit); -1 = none yet. Written by
// the constructor (before the thread starts) and afterwards only in the
// viewer thread.
extern std::atomic<int64_t> read_begin_time;

#endif
