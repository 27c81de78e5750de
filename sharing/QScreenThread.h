#ifndef TAVLO_QSCREENTHREAD_H
#define TAVLO_QSCREENTHREAD_H

#include "FrameStructure.h"
#include "ScreenGrabber.h"

#include <QScreen>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

// The producer half of screen sharing: while anybody watches, grabs the
// X11 root window through MIT shared memory about thirty times a second
// (and sleeps while nobody does), converts it to YUV 4:2:0,
// encodes it to H.264 and queues every access unit (at most 30) for the
// RTSP server, which it wakes through the frame-ready callback.
//
// Set-up failures (no encoder, no display, no shared memory, a root window
// that is not 32-bit TrueColor) write one line to stderr and throw
// QException.
class QScreenThread : public QThread {
public:
    // GUI thread. Sets up the encoder and the conversion.
    QScreenThread(QObject* parent, int AWidth, int AHeight, int AFps, int AGob, int ABitPerSecond);
    // Any thread, once the capture loop has ended (or never ran).
    ~QScreenThread() override;

    // Set once, before start; the capture thread calls it after every
    // encoder step.
    void setCallbackFunctionFrameIsReady(std::function<void()> func);

    // Opens the display and the shared-memory image and fits the conversion
    // to the root window. Called from the GUI thread before start so that a
    // failure shows at once; run() calls it itself if nobody did.
    void setupCapture();

    // Server thread: lends the oldest record (it stays queued and cannot be
    // trimmed until ReleaseFrame). False, null and 0 on an empty queue.
    bool GetFrame(uint8_t** FrameBuffer, unsigned int* FrameSize);
    // Server thread: removes and destroys the record that GetFrame lent, or
    // the oldest one if none is lent. Always true.
    bool ReleaseFrame();

    // Capture thread (run): queues one encoded packet, Annex B with its
    // leading start code, trimming the queue to make room.
    void queuePacket(const uint8_t* packet, int size, int frameID);
    int queueLength();

    // Any thread: ends the capture loop after the current iteration.
    void requestStop();
    // Any thread: a keyframe soon, so that a new client can start decoding.
    // Requests are honoured at most once a second (KEYFRAME_GAP_MS),
    // however many arrive; one that comes sooner waits for that second.
    void requestKeyframe();
    // Any thread: whether anybody watches. While nobody does, the loop
    // neither grabs, converts nor encodes; it sleeps until it is told
    // otherwise, and the first picture after that is a keyframe.
    void setWatched(bool watched);
    // Any thread: one keyframe even though nobody watches (a pipeline being
    // built needs one picture to learn the stream's parameters).
    void requestPicture();
    // True while the loop sleeps for want of a watcher.
    bool idle() const { return idle_; }
    // Pictures grabbed so far.
    unsigned long grabs() const { return grabs_; }
    // Keyframes the encoder was told to make (joins and resumes).
    unsigned long forcedKeyframes() const { return forcedKeyframes_; }
    // Periods left out because the screen had not changed.
    unsigned long skipped() const { return skips_; }

    static const int KEYFRAME_GAP_MS = 1000;
    // A still screen is sent again this often, at least.
    static const int REFRESH_MS = 1000;

    // Any thread: leaves out the lines written for every picture (the grab,
    // "diff:", "GetFrame…"); every other line stays. Off by default.
    static void setQuiet(bool quiet);
    static bool quiet();

    // Converts 32-bit BGRA to planar YUV 4:2:0 (BT.601, limited range) at the
    // same size: the grab's usual path, several times cheaper than the
    // general scaler. Width and height even.
    static void bgraToI420(const uint8_t* src, int srcStride, int width, int height, uint8_t* y, int yStride,
                           uint8_t* u, int uStride, uint8_t* v, int vStride);

    // The shared-memory segment's id, -1 before setupCapture.
    int shmId() const;

    int Width;
    int Height;
    int Fps;
    int Gob;
    int BitPerSecond;
    AVCodecContext* codecContext = nullptr;
    SwsContext* swsCtx = nullptr;
    std::deque<FrameStructure*> outqueue;
    std::mutex outqueue_mutex;
    std::function<void()> onFrame;
    QScreen* screen = nullptr;

protected:
    // Capture thread: the grab, convert, encode, queue loop.
    void run() override;

private:
    ScreenGrabber grabber;  // opened by setupCapture
    int sw = 0, sh = 0;
    FrameStructure* lent = nullptr;  // under outqueue_mutex
    // Sleeps until watched, asked for a picture or stopped; false when
    // stopped. Capture thread.
    bool waitForWatcher();
    // Drops the queued records that nobody read (none lent). Capture thread.
    void dropStale();

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> keyframeRequested{false};
    std::atomic<bool> watched_{false};
    std::atomic<bool> pictureWanted_{false};
    std::atomic<bool> idle_{false};
    std::atomic<unsigned long> grabs_{0};
    std::atomic<unsigned long> forcedKeyframes_{0};
    std::atomic<unsigned long> skips_{0};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
};

#endif
