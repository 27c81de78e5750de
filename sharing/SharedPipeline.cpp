#include "SharedPipeline.h"

#include "AppSrcFeeder.h"
#include "TavloMedia.h"
#include "TavloMediaFactory.h"
#include "TavloRtspServer.h"

#include <gst/app/gstappsrc.h>
#include <gst/base/gstbasesink.h>

#include <cstdio>
#include <cstring>

#define GST_CAT_DEFAULT tavlo_sharing_debug

namespace {

// Where the appsrc of a media is kept (a reference, released with the
// media), and the name of the stream it serves.
const char APPSRC_KEY[] = "tavlo-appsrc";
const char STREAM_NAME_KEY[] = "tavlo-stream-name";

GstAppSrc* appsrcOf(GstRTSPMedia* media)
{
    return static_cast<GstAppSrc*>(g_object_get_data(G_OBJECT(media), APPSRC_KEY));
}

// The pipeline's senders send each packet the moment it comes. The access
// units are stamped as they enter the appsrc, after encoding, so there is
// nothing to wait for: a sender that syncs to the clock renders at the
// stamp plus the live pipeline's latency, which holds every sink's
// processing deadline (20 ms unless set). The sender of the clients that
// take RTP over their RTSP connection is set to sync again at every PLAY
// (the library's rate control, which also keeps the sender reports'
// timestamps): with no deadline it too sends at once. That wait was the
// whole of the TCP road's extra 20 ms.
void sendAtOnce(GstElement* element)
{
    if (GST_IS_BASE_SINK(element))
        g_object_set(element, "sync", FALSE, "processing-deadline", G_GUINT64_CONSTANT(0), nullptr);
}

// The senders join the pipeline itself or one of its bins.
void onElementAdded(GstBin*, GstElement* element, gpointer)
{
    sendAtOnce(element);
}

void onDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer)
{
    sendAtOnce(element);
}

}  // namespace

const char* const SharedPipeline::DESCRIPTION = "RTSP Streaming Session";

SharedPipeline::SharedPipeline(const char* streamName, AppSrcFeeder* feeder, FailureHandler onFailure,
                               std::optional<MulticastGroup> multicast)
    : m_guard(Guard::create(this)),
      m_streamName(streamName),
      m_multicast(std::move(multicast)),
      m_feeder(feeder),
      m_onFailure(std::move(onFailure)),
      m_factory(tavlo_media_factory_new(streamName))
{
    // Access units arrive whole, as an Annex B byte stream; the payloader
    // cuts them into RTP packets (fragmenting large slices), so nothing is
    // ever truncated. It must not insert parameter sets itself: the encoder
    // already puts them ahead of every keyframe, and the payloader would
    // put copies before each IDR slice, splitting a multi-slice picture.
    gst_rtsp_media_factory_set_launch(m_factory,
                                      "( appsrc name=src is-live=true format=time do-timestamp=true "
                                      "min-latency=0 "
                                      "caps=video/x-h264,stream-format=byte-stream,alignment=au "
                                      "! rtph264pay name=pay0 pt=96 config-interval=0 )");
    // One pipeline for everybody.
    gst_rtsp_media_factory_set_shared(m_factory, TRUE);
    gst_rtsp_media_factory_set_suspend_mode(m_factory, GST_RTSP_SUSPEND_MODE_NONE);
    int protocols = GST_RTSP_LOWER_TRANS_UDP | GST_RTSP_LOWER_TRANS_TCP;
    if (m_multicast)
        protocols |= GST_RTSP_LOWER_TRANS_UDP_MCAST;
    gst_rtsp_media_factory_set_protocols(m_factory, static_cast<GstRTSPLowerTrans>(protocols));
    gst_rtsp_media_factory_set_latency(m_factory, 0);

    // Server-side RTP/RTCP ports for UDP clients.
    GstRTSPAddressPool* pool = gst_rtsp_address_pool_new();
    gst_rtsp_address_pool_add_range(pool, GST_RTSP_ADDRESS_POOL_ANY_IPV4, GST_RTSP_ADDRESS_POOL_ANY_IPV4,
                                    RTP_PORT_FIRST, RTP_PORT_LAST, 0);
    if (m_multicast) {
        // The group and its two ports: the only multicast address the
        // stream can get, held by the pipeline while it runs and shared by
        // all its multicast clients. The sockets are bound to the group's
        // address, so that they take in nothing sent to another group on
        // the same port; RTCP sent to the group passes the RtcpGuard like
        // any other.
        const char* address = m_multicast->address.c_str();
        if (!gst_rtsp_address_pool_add_range(pool, address, address, m_multicast->port, m_multicast->port + 1,
                                             m_multicast->ttl))
            GST_WARNING("multicast group %s:%u not usable", address, m_multicast->port);
        gst_rtsp_media_factory_set_bind_mcast_address(m_factory, TRUE);
        gst_rtsp_media_factory_set_max_mcast_ttl(m_factory, m_multicast->ttl);
    }
    gst_rtsp_media_factory_set_address_pool(m_factory, pool);
    g_object_unref(pool);

    Guard::connect(m_factory, "media-configure", G_CALLBACK(&SharedPipeline::onConfigure), m_guard);
}

SharedPipeline::~SharedPipeline()
{
    release();
    // Waits for a handler running in a client thread, then turns every
    // later one into a no-op.
    m_guard->forget();
    g_object_unref(m_factory);
}

GstRTSPMedia* SharedPipeline::media()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_media ? GST_RTSP_MEDIA(g_object_ref(m_media)) : nullptr;
}

void SharedPipeline::release()
{
    GstRTSPMedia* media;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        media = m_media;
        m_media = nullptr;
    }
    if (!media)
        return;
    // Gives back the prepare held since the first client; with no client
    // left this stops the pipeline.
    gst_rtsp_media_unprepare(media);
    g_object_unref(media);
}

// Client thread: a pipeline has just been built for the mount.
void SharedPipeline::onConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer guard)
{
    Guard::from(guard).run([media](SharedPipeline& self) { self.configure(media); });
}

void SharedPipeline::configure(GstRTSPMedia* media)
{
    {
        // The source belongs to the running pipeline; a second one (which
        // the one key should never let happen) gets no pictures rather than
        // take them from every client.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_media) {
            std::printf("RTSP: a second pipeline was built; the source stays with the first\n");
            return;
        }
    }
    GST_DEBUG("the shared pipeline of %s is built; the source feeds it", m_streamName.c_str());
    g_object_set_data_full(G_OBJECT(media), STREAM_NAME_KEY, g_strdup(m_streamName.c_str()), g_free);
    GstElement* bin = gst_rtsp_media_get_element(media);
    if (GstElement* src = gst_bin_get_by_name(GST_BIN(bin), "src")) {
        g_object_set_data_full(G_OBJECT(media), APPSRC_KEY, src, gst_object_unref);
        m_feeder->attach(GST_APP_SRC(src));
    }
    if (GstObject* pipeline = gst_object_get_parent(GST_OBJECT(bin))) {
        g_signal_connect(pipeline, "element-added", G_CALLBACK(onElementAdded), nullptr);
        g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(onDeepElementAdded), nullptr);
        gst_object_unref(pipeline);
    }
    gst_object_unref(bin);
    if (TAVLO_IS_MEDIA(media))
        tavlo_media_set_failed_hook(TAVLO_MEDIA(media), &SharedPipeline::onFailed, Guard::newRef(m_guard),
                                    &Guard::deleteRef);
    Guard::connect(media, "prepared", G_CALLBACK(&SharedPipeline::onPrepared), m_guard);
    Guard::connect(media, "unprepared", G_CALLBACK(&SharedPipeline::onUnprepared), m_guard);
}

// Client thread: the pipeline runs. Holding one more prepare keeps it
// running (and the source bound) when the last client leaves. The media is
// claimed under the guard, but prepared outside it: the destructor's
// release takes the media's own lock and then runs the guarded
// "unprepared" handler, so holding both here could deadlock.
void SharedPipeline::onPrepared(GstRTSPMedia* media, gpointer guard)
{
    bool claimed = false;
    Guard::from(guard).run([&](SharedPipeline& self) {
        std::lock_guard<std::mutex> lock(self.m_mutex);
        if (self.m_media || appsrcOf(media) == nullptr)
            return;
        self.m_media = GST_RTSP_MEDIA(g_object_ref(media));
        claimed = true;
    });
    if (!claimed)
        return;
    // On a prepared media this only counts one more user; the thread object
    // it wants is let go at once, and its quit request is run off here.
    GstRTSPThread* thread = gst_rtsp_thread_new(GST_RTSP_THREAD_TYPE_MEDIA);
    GMainContext* context = g_main_context_ref(thread->context);
    gst_rtsp_media_prepare(media, thread);
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_unref(context);
}

// A pipeline that went down (the release at shutdown, or the end of a
// failed one): the source lets go of its appsrc; a later client builds a
// new pipeline.
void SharedPipeline::onUnprepared(GstRTSPMedia* media, gpointer guard)
{
    GstRTSPMedia* kept = nullptr;
    Guard::from(guard).run([&](SharedPipeline& self) {
        if (GstAppSrc* src = appsrcOf(media))
            self.m_feeder->detach(src);
        std::lock_guard<std::mutex> lock(self.m_mutex);
        if (self.m_media == media) {
            kept = self.m_media;
            self.m_media = nullptr;
        }
    });
    if (kept)
        g_object_unref(kept);
}

// The media's thread: its pipeline posted an error.
void SharedPipeline::onFailed(GstRTSPMedia* media, const gchar* why, gpointer guard)
{
    Guard::from(guard).run([&](SharedPipeline& self) { self.failed(media, why); });
}

void SharedPipeline::failed(GstRTSPMedia* media, const gchar* why)
{
    // Requests from now on build a new pipeline, to which the source goes.
    tavlo_media_factory_renew(TAVLO_MEDIA_FACTORY(m_factory));
    bool held = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_media == media) {
            // Our reference goes to the failure handler with the prepare.
            m_media = nullptr;
            held = true;
        }
    }
    // Pinned: one line per failed pipeline.
    std::printf("Screen sharing: the stream failed (%s); the next client gets a new one\n", why);
    std::fflush(stdout);
    if (GstAppSrc* src = appsrcOf(media))
        m_feeder->detach(src);
    if (!held)
        g_object_ref(media);
    if (m_onFailure) {
        m_onFailure(media, held);
    } else {
        if (held)
            gst_rtsp_media_unprepare(media);
        g_object_unref(media);
    }
}

namespace {
GstRTSPFilterResult countTransport(GstRTSPStream*, GstRTSPStreamTransport*, gpointer count)
{
    ++*static_cast<int*>(count);
    return GST_RTSP_FILTER_KEEP;
}
}  // namespace

unsigned SharedPipeline::bandwidthKbps(const char* streamName)
{
    if (streamName && std::strcmp(streamName, Classroom::THUMBNAIL_STREAM_NAME) == 0)
        return THUMBNAIL_BANDWIDTH_KBPS;
    return BANDWIDTH_KBPS;
}

int SharedPipeline::playing()
{
    GstRTSPMedia* current = media();
    if (!current)
        return 0;
    // A stream's transports are the active ones: added at PLAY, removed at
    // PAUSE, TEARDOWN and when the client or its session goes.
    int count = 0;
    for (guint i = 0; i < gst_rtsp_media_n_streams(current); ++i)
        gst_rtsp_stream_transport_filter(gst_rtsp_media_get_stream(current, i), countTransport, &count);
    g_object_unref(current);
    return count;
}

void SharedPipeline::describe(GstSDPMessage* sdp, GstRTSPMedia* media)
{
    const auto* name = media ? static_cast<const char*>(g_object_get_data(G_OBJECT(media), STREAM_NAME_KEY)) : nullptr;
    gst_sdp_message_set_session_name(sdp, DESCRIPTION);
    gst_sdp_message_set_information(sdp, name ? name : Classroom::STREAM_NAME);
    for (guint i = 0; i < gst_sdp_message_medias_len(sdp); ++i) {
        auto* media = const_cast<GstSDPMedia*>(gst_sdp_message_get_media(sdp, i));
        while (gst_sdp_media_bandwidths_len(media) > 0)
            gst_sdp_media_remove_bandwidth(media, 0);
        gst_sdp_media_add_bandwidth(media, GST_SDP_BWTYPE_AS, bandwidthKbps(name));
    }
}
