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
// connection or, when asked for, taken from the server's multicast group
// (the server names it), pulled with GStreamer's rtspsrc (no jitter
// buffering) and
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
    enum class Transport {
        Tcp,        // RTP interleaved in the RTSP connection
        Multicast,  // RTP from the server's multicast group; nothing else is tried
    };
    // How long a multicast stream may stay without an RTP packet, from its
    // PLAY (or, while the session is still being set up, from the start)
    // and between packets, before multicastSilent() says so.
    static constexpr int64_t MULTICAST_SILENCE_US = 1500000;

    explicit RtspSource(const QString& url, Transport transport = Transport::Tcp);
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

    Transport transport() const { return transport_; }
    // Multicast only: true once no RTP packet came for MULTICAST_SILENCE_US
    // at steady time nowUs (g_get_monotonic_time): none since the PLAY, or
    // none since the last one. The owner then reopens the stream over TCP.
    bool multicastSilent(int64_t nowUs) const;

private:
    static void onPadAdded(GstElement* src, GstPad* pad, void* self);
    static void onNoMorePads(GstElement* src, void* self);
    static int onBusMessage(GstBus* bus, GstMessage* message, void* self);
    // A streaming thread: an RTP packet (or a list of them) of the stream.
    static int onPacket(GstPad* pad, void* info, void* self);
    // Any thread that posts: notes the moment rtspsrc has sent its PLAY.
    void notePlaySent(GstMessage* message);

    Transport transport_;
    // Steady microseconds (g_get_monotonic_time): the start, the moment the
    // PLAY went out (0 until then) and the last RTP packet (0 until one
    // came); written by GStreamer's threads.
    int64_t startUs_ = 0;
    std::atomic<int64_t> playSentUs_{0};
    std::atomic<int64_t> lastPacketUs_{0};

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
