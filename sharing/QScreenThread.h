#ifndef TAVLO_QSCREENTHREAD_H
#define TAVLO_QSCREENTHREAD_H

#include "ScreenGrabber.h"
#include "ThumbnailEncoder.h"

#include <QScreen>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

// The producer half of screen sharing: while anybody watches, grabs the
// X11 root window through MIT shared memory thirty times a second, on a
// timetable of the steady clock (and sleeps while nobody does), converts it
// to YUV 4:2:0 at the encoded size (a screen of another size, or one that
// changes size, is scaled into it with black bars), encodes it to H.264 and
// hands every access unit to the frame-ready callback (the RTSP server's
// feeder, which pushes it into the stream's pipeline).
//
// The same grabs feed the small stream (the console's thumbnails): while
// it has a watcher, about once a second (Classroom::THUMBNAIL_INTERVAL_MS)
// the latest grab is scaled down and encoded on its own by a
// ThumbnailEncoder and handed to the thumbnail callback. With only the
// small stream watched the loop grabs at most once a thumbnail (and not at
// all while the screen stands still) and the full-size encoder is never
// woken: the full stream stays idle.
//
// Set-up failures (no encoder, no display, no shared memory, a root window
// that is not 32-bit TrueColor) write one line to stderr and throw
// QException.
class QScreenThread : public QThread {
public:
    // One encoded access unit as the encoder made it: H.264 Annex B with its
    // leading start code; several NAL units (parameter sets ahead of a
    // keyframe's slices, several slices) keep their own start codes. The
    // bytes are the encoder's: valid during the callback only.
    struct AccessUnit {
        const uint8_t* data;
        int size;
        int64_t frameID;  // the capture period it was grabbed in
        bool keyframe;    // decodes on its own
        bool afterIdle;   // the first one after the loop slept for want of a watcher (or started)
    };

    // The encoder's private options, by name: every one of them is an option
    // of libx264's wrapper (the rate limits are set on the context).
    struct EncoderOption {
        const char* name;
        const char* value;
    };
    static const EncoderOption ENCODER_OPTIONS[3];

    // GUI thread. Sets up the encoder and the conversion.
    QScreenThread(QObject* parent, int AWidth, int AHeight, int AFps, int AGob, int ABitPerSecond);
    // Any thread, once the capture loop has ended (or never ran).
    ~QScreenThread() override;

    // The two streams a capture feeds.
    enum class Channel { Full, Thumbnail };

    // Set once, before start; the capture thread calls it with every access
    // unit.
    void setCallbackFunctionFrameIsReady(std::function<void(const AccessUnit&)> func);
    // The same for the small stream's access units (each a keyframe).
    void setThumbnailCallback(std::function<void(const AccessUnit&)> func);

    // Opens the display and the shared-memory image and fits the conversion
    // to the root window. Called from the GUI thread before start so that a
    // failure shows at once; run() calls it itself if nobody did.
    void setupCapture();

    // Any thread: ends the capture loop after the current iteration.
    void requestStop();
    // Any thread: a keyframe soon, so that a new client can start decoding.
    // Requests are honoured at most once a second (KEYFRAME_GAP_MS),
    // however many arrive; one that comes sooner waits for that second.
    void requestKeyframe();
    // Whether a keyframe was asked for and not yet made.
    bool keyframeWanted() const { return keyframeRequested; }
    // Any thread: whether anybody watches. While nobody does, the loop
    // neither grabs, converts nor encodes; it sleeps until it is told
    // otherwise, and the first picture after that is a keyframe.
    void setWatched(bool watched);
    // Any thread: a keyframe at once, even though nobody watches (a pipeline
    // being built needs one to learn the stream's parameters, and its
    // viewers need one to start).
    void requestPicture();
    // Any thread: whether anybody watches the small stream.
    void setThumbnailWatched(bool watched);
    // Any thread: a small picture soon even though nobody watches the small
    // stream (a pipeline being built needs one), never sooner than the
    // thumbnails' interval after the last.
    void requestThumbnail();
    // The full stream's requestKeyframe / requestPicture, or the small
    // stream's requestThumbnail (its pictures are all keyframes).
    void requestKeyframe(Channel channel);
    void requestPicture(Channel channel);
    // True while the loop sleeps for want of a watcher of the full stream
    // (it may still make thumbnails).
    bool idle() const { return idle_; }
    // Pictures given to the full-size encoder so far.
    unsigned long fullPictures() const { return fullPictures_; }
    // Small pictures encoded so far.
    unsigned long thumbnails() const { return thumbnails_; }
    // Pictures grabbed so far.
    unsigned long grabs() const { return grabs_; }
    // Keyframes the encoder was told to make (joins and resumes).
    unsigned long forcedKeyframes() const { return forcedKeyframes_; }
    // Periods left out because the screen had not changed.
    unsigned long skipped() const { return skips_; }
    // Periods left out because the loop fell behind its timetable.
    unsigned long late() const { return late_; }
    // The size of the screen the loop grabs now (0 before setupCapture).
    int screenWidth() const { return sw; }
    int screenHeight() const { return sh; }

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

    // Where a screen of screenW x screenH goes in a picture of width x
    // height: as large as fits with its aspect kept, centred, on even
    // coordinates (4:2:0 chroma). The rest of the picture is black bars.
    struct Placement {
        int x, y, width, height;
    };
    static Placement place(int screenW, int screenH, int width, int height);

    // The shared-memory segment's id, -1 before setupCapture.
    int shmId() const;

    int Width;
    int Height;
    int Fps;
    int Gob;
    int BitPerSecond;
    AVCodecContext* codecContext = nullptr;
    SwsContext* swsCtx = nullptr;
    std::function<void(const AccessUnit&)> onFrame;
    QScreen* screen = nullptr;

protected:
    // Capture thread: the grab, convert, encode, hand over loop.
    void run() override;

private:
    // Sleeps until watched (either stream), asked for a picture or stopped;
    // false when stopped. Capture thread.
    bool waitForWatcher();
    // Whether the small stream wants pictures (watched or asked for).
    bool thumbnailsWanted() const { return thumbWatched_ || thumbWanted_; }
    // Only the small stream is wanted: sleeps until the next thumbnail is
    // due (or the full stream is wanted, or a stop), then makes it; false
    // when stopped. Capture thread.
    bool thumbnailStep();
    // Makes a thumbnail if one is due: from pixels (this period's grab,
    // stride bytes a row) or else from the last grab, or a grab of its own
    // where the screen changed since (allowed only with grabOwn). Capture
    // thread.
    void thumbnailIfDue(const uint8_t* pixels, int stride, bool grabOwn);
    // Sleeps until the deadline or a stop request; false when stopped.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline);
    // Fits the conversion to a screen of the current size, and blackens the
    // picture's bars (capture thread, or the GUI thread before start).
    bool fitConversion(AVFrame* frame);

    ScreenGrabber grabber;  // opened by setupCapture
    int sw = 0, sh = 0;     // the size that the conversion reads
    Placement placement{0, 0, 0, 0};

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> keyframeRequested{false};
    std::atomic<bool> watched_{false};
    std::atomic<bool> pictureWanted_{false};
    std::atomic<bool> idle_{false};
    std::atomic<unsigned long> grabs_{0};
    std::atomic<unsigned long> forcedKeyframes_{0};
    std::atomic<unsigned long> skips_{0};
    std::atomic<unsigned long> late_{0};
    std::atomic<unsigned long> fullPictures_{0};

    // The small stream. Capture thread only, but for the flags.
    std::function<void(const AccessUnit&)> onThumbnail;
    std::atomic<bool> thumbWatched_{false};
    std::atomic<bool> thumbWanted_{false};
    std::atomic<unsigned long> thumbnails_{0};
    ThumbnailEncoder thumbEncoder_;
    std::vector<uint8_t> thumbUnit_;
    std::chrono::steady_clock::time_point nextThumbAt_{};
    // The last grab's pixels (valid until the next grab; null after a
    // change of size), and whether the thumbnail has not taken them yet.
    const uint8_t* lastPixels_ = nullptr;
    int lastStride_ = 0;
    bool thumbStale_ = true;
    // The screen's size changed in a thumbnail's grab: the full path fits
    // its conversion when it next runs.
    bool resizedInThumbnail_ = false;
    // Nobody watched the small stream at its last picture.
    bool thumbIdle_ = true;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
};

#endif
