#ifndef TAVLO_RTSPSOURCE_H
#define TAVLO_RTSPSOURCE_H

#include <QString>
#include <atomic>
#include <cstdint>
#include <vector>

typedef struct _GstElement GstElement;
typedef struct _GstAppSink GstAppSink;
typedef struct _GstPad GstPad;
typedef struct _GstBus GstBus;
typedef struct _GstMessage GstMessage;

// The viewer's network end: one RTSP stream, its RTP carried in the RTSP TCP
// connection, pulled with GStreamer's rtspsrc (no jitter buffering) and
// depacketised into whole H.264 access units in Annex B form. Each access
// unit is handed over the moment its last RTP packet (the one with the
// marker bit) has arrived: a parser that finds the end of a picture only at
// the start of the next would hold every picture back by a frame interval.
//
// Construction starts connecting; the connection, the session set-up and the
// depacketising run on GStreamer's threads. Everything else (next(), the
// destructor) is called from the one thread that owns the object (the viewer
// thread); the destructor tears the session down and returns promptly also
// while the peer has not answered.
class RtspSource {
public:
    explicit RtspSource(const QString& url);
    ~RtspSource();
    RtspSource(const RtspSource&) = delete;
    RtspSource& operator=(const RtspSource&) = delete;

    // One access unit of the video stream.
    struct Unit {
        std::vector<uint8_t> data;   // Annex B, start codes included
        int64_t ptsUs = INT64_MIN;   // stream time; INT64_MIN when the unit has none
    };

    enum class Status {
        Unit,     // *unit holds the next access unit
        Waiting,  // nothing arrived within the time given
        Failed,   // the stream cannot be shown; *failure says why (the viewer's failure line)
        Ended,    // the stream ended or broke after it had delivered pictures
    };
    // Waits up to timeoutMs for the next access unit.
    Status next(int timeoutMs, Unit* unit, const char** failure);

    // True once the session is set up with an H.264 video stream (its
    // pictures may still be on their way).
    bool hasVideo() const { return linkedVideo_.load(); }

private:
    static void onPadAdded(GstElement* src, GstPad* pad, void* self);
    static void onNoMorePads(GstElement* src, void* self);
    static int onBusMessage(GstBus* bus, GstMessage* message, void* self);

    GstElement* pipeline_ = nullptr;
    GstAppSink* sink_ = nullptr;
    bool gotUnit_ = false;
    // Written by GStreamer's threads, read by the owner.
    std::atomic<bool> linkedVideo_{false};  // an H.264 stream goes to the sink
    std::atomic<bool> otherVideo_{false};   // a video stream of another codec
    std::atomic<bool> noMorePads_{false};   // every stream of the session is known
    std::atomic<bool> error_{false};        // the session failed
    std::atomic<bool> eos_{false};          // the stream ended
};

#endif
