#ifndef TAVLO_SHAREDPIPELINE_H
#define TAVLO_SHAREDPIPELINE_H

#include "Classroom.h"
#include "GuardedOwner.h"
#include "ThumbnailEncoder.h"
#include "MulticastGroup.h"

#include <gst/rtsp-server/rtsp-server.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>

class AppSrcFeeder;

// One mount's stream: its media factory and the one shared pipeline that
// every client of the mount plays (appsrc fed by an AppSrcFeeder, H.264 RTP
// payloader), built on the first request and kept prepared when the last
// client leaves, so one encoder feeds any number of clients; and the count
// of the clients it sends to. RTP goes over UDP (server ports from 6970),
// interleaved over the RTSP connection, or, given a multicast group, to
// that group: one copy on the wire for all its multicast clients, with the
// group, port and TTL the server's whatever a client asks for
// (TavloRtspClient). The same payloader feeds every road, so multicast and
// unicast clients receive the same access units.
//
// When the pipeline fails it is replaced: one stdout line says why, the
// next request builds a new pipeline (the source is bound to it), and the
// failed one is handed to the owner's failure handler to be let go.
//
// Threads: created and destroyed in the GUI thread (destroyed once no
// client is served); its signal handlers run in RTSP client threads (media
// construction and preparation) and in the media's thread (failure).
class SharedPipeline {
public:
    // Called in the media's thread with a failed media (a new reference,
    // the handler's to release) and whether this object held it prepared
    // (a prepare the handler must give back).
    using FailureHandler = std::function<void(GstRTSPMedia* media, bool heldPrepared)>;

    // Without a multicast group the stream is offered over UDP and TCP only.
    SharedPipeline(const char* streamName, AppSrcFeeder* feeder, FailureHandler onFailure,
                   std::optional<MulticastGroup> multicast = std::nullopt);
    ~SharedPipeline();
    SharedPipeline(const SharedPipeline&) = delete;
    SharedPipeline& operator=(const SharedPipeline&) = delete;

    // The stream's name; it is mounted at "/" + name.
    const char* streamName() const { return m_streamName.c_str(); }
    // The group the stream is offered to, if any.
    const std::optional<MulticastGroup>& multicast() const { return m_multicast; }
    // The factory to mount (borrowed; the mount points take their own ref).
    GstRTSPMediaFactory* factory() const { return m_factory; }

    // Any thread: the pipeline that serves the mount now (a new reference),
    // or null between pipelines.
    GstRTSPMedia* media();

    // Fills in the session description of media's stream: session name,
    // information (the stream's name) and the bandwidth of every media
    // section.
    static void describe(GstSDPMessage* sdp, GstRTSPMedia* media);

    // Drops the kept pipeline (at shutdown, once no client is served).
    void release();

    // Clients the pipeline sends to right now (playing ones). Any thread.
    int playing();

    static const char* const DESCRIPTION;
    static const unsigned BANDWIDTH_KBPS = Classroom::BANDWIDTH_KBPS;
    // The small stream's (its encoder's cap).
    static const unsigned THUMBNAIL_BANDWIDTH_KBPS = ThumbnailEncoder::MAX_RATE_BPS / 1000;
    // The session description's bandwidth of the stream named streamName.
    static unsigned bandwidthKbps(const char* streamName);
    static const unsigned RTP_PORT_FIRST = 6970;
    static const unsigned RTP_PORT_LAST = 7969;

private:
    using Guard = GuardedOwner<SharedPipeline>;

    static void onConfigure(GstRTSPMediaFactory* factory, GstRTSPMedia* media, gpointer guard);
    static void onPrepared(GstRTSPMedia* media, gpointer guard);
    static void onUnprepared(GstRTSPMedia* media, gpointer guard);
    static void onFailed(GstRTSPMedia* media, const gchar* why, gpointer guard);
    void configure(GstRTSPMedia* media);
    void failed(GstRTSPMedia* media, const gchar* why);

    Guard::Ref m_guard;
    std::string m_streamName;
    std::optional<MulticastGroup> m_multicast;
    AppSrcFeeder* m_feeder;
    FailureHandler m_onFailure;
    GstRTSPMediaFactory* m_factory;
    std::mutex m_mutex;
    GstRTSPMedia* m_media = nullptr;  // under m_mutex: the kept media, one extra prepare held
};

#endif
