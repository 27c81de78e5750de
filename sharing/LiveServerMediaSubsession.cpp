#include "LiveServerMediaSubsession.h"

#include "Classroom.h"
#include "FFmpegH264Source.h"
#include "TavloMediaFactory.h"
#include "TavloRtspServer.h"

#include <gst/app/gstappsrc.h>
#include <gst/base/gstbasesink.h>

#include <cstdio>

namespace {

// The pipeline's senders send each packet the moment it comes: the access
// units are stamped when they enter, so waiting on the clock would only add
// delay.
void sendAtOnce(GstBin*, GstBin*, GstElement* element, gpointer)
{
    if (GST_IS_BASE_SINK(element))
        g_object_set(element, "sync", FALSE, nullptr);
}

}  // namespace

const char* const LiveServerMediaSubsession::STREAM_NAME = Classroom::STREAM_NAME;
const char* const LiveServerMediaSubsession::DESCRIPTION = "RTSP Streaming Session";

LiveServerMediaSubsession* LiveServerMediaSubsession::createNew(FFmpegH264Source* source)
{
    return new LiveServerMediaSubsession(source);
}

LiveServerMediaSubsession::LiveServerMediaSubsession(FFmpegH264Source* source)
    : m_owner(std::make_shared<Owner>()),
      m_source(source),
      m_factory(tavlo_media_factory_new())
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
    gst_rtsp_media_factory_set_protocols(
        m_factory, static_cast<GstRTSPLowerTrans>(GST_RTSP_LOWER_TRANS_UDP | GST_RTSP_LOWER_TRANS_TCP));
    gst_rtsp_media_factory_set_latency(m_factory, 0);

    // Server-side RTP/RTCP ports for UDP clients.
    GstRTSPAddressPool* pool = gst_rtsp_address_pool_new();
    gst_rtsp_address_pool_add_range(pool, GST_RTSP_ADDRESS_POOL_ANY_IPV4, GST_RTSP_ADDRESS_POOL_ANY_IPV4,
                                    RTP_PORT_FIRST, RTP_PORT_LAST, 0);
    gst_rtsp_media_factory_set_address_pool(m_factory, pool);
    g_object_unref(pool);

    m_owner->sub = this;
    connectGuarded(m_factory, "media-configure", G_CALLBACK(&LiveServerMediaSubsession::guardedConfigure));
}

LiveServerMediaSubsession::~LiveServerMediaSubsession()
{
    release();
    {
        // Waits for a handler running in a client thread, then turns every
        // later one into a no-op.
        std::lock_guard<std::recursive_mutex> lock(m_owner->mutex);
        m_owner->sub = nullptr;
    }
    g_object_unref(m_factory);
}

void LiveServerMediaSubsession::connectGuarded(gpointer instance, const char* signal, GCallback handler)
{
    g_signal_connect_data(
        instance, signal, handler, new std::shared_ptr<Owner>(m_owner),
        [](gpointer owner, GClosure*) { delete static_cast<std::shared_ptr<Owner>*>(owner); }, GConnectFlags(0));
}

template <void (*Handler)(LiveServerMediaSubsession*, GstRTSPMedia*)>
void LiveServerMediaSubsession::guarded(GstRTSPMedia* media, gpointer owner)
{
    Owner& o = **static_cast<std::shared_ptr<Owner>*>(owner);
    std::lock_guard<std::recursive_mutex> lock(o.mutex);
    if (o.sub)
        Handler(o.sub, media);
}

void LiveServerMediaSubsession::guardedConfigure(GstRTSPMediaFactory* factory, GstRTSPMedia* media,
                                                 gpointer owner)
{
    Owner& o = **static_cast<std::shared_ptr<Owner>*>(owner);
    std::lock_guard<std::recursive_mutex> lock(o.mutex);
    if (o.sub)
        mediaConfigure(factory, media, o.sub);
}

void LiveServerMediaSubsession::release()
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

// Client thread: the shared pipeline has just been built.
void LiveServerMediaSubsession::mediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer self)
{
    auto* sub = static_cast<LiveServerMediaSubsession*>(self);
    {
        // The source belongs to the running pipeline; a second one (which
        // the one key should never let happen) gets no frames rather than
        // take them from every client.
        std::lock_guard<std::mutex> lock(sub->m_mutex);
        if (sub->m_media) {
            std::printf("RTSP: a second pipeline was built; the source stays with the first\n");
            return;
        }
        GST_CAT_DEBUG(tavlo_sharing_debug, "the shared pipeline is built; the source feeds it");
    }
    GstElement* bin = gst_rtsp_media_get_element(media);
    GstElement* src = gst_bin_get_by_name(GST_BIN(bin), "src");
    if (src) {
        sub->m_source->attach(GST_APP_SRC(src));
        g_object_set_data_full(G_OBJECT(media), "tavlo-appsrc", src, gst_object_unref);
    }
    if (GstObject* pipeline = gst_object_get_parent(GST_OBJECT(bin))) {
        g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(sendAtOnce), nullptr);
        gst_object_unref(pipeline);
    }
    gst_object_unref(bin);
    sub->connectGuarded(media, "prepared", G_CALLBACK(&LiveServerMediaSubsession::guardedPrepared));
    sub->connectGuarded(media, "unprepared", G_CALLBACK(&LiveServerMediaSubsession::guarded<onUnprepared>));
}

// Client thread: the pipeline runs. Holding one more prepare keeps it
// running (and the source bound) when the last client leaves. The media is
// claimed under the owner's lock, but prepared outside it: the destructor's
// release takes the media's own lock and then runs the guarded "unprepared"
// handler, so holding both here could deadlock.
void LiveServerMediaSubsession::guardedPrepared(GstRTSPMedia* media, gpointer owner)
{
    Owner& o = **static_cast<std::shared_ptr<Owner>*>(owner);
    {
        std::lock_guard<std::recursive_mutex> lock(o.mutex);
        if (!o.sub)
            return;
        std::lock_guard<std::mutex> mediaLock(o.sub->m_mutex);
        if (o.sub->m_media)
            return;
        o.sub->m_media = GST_RTSP_MEDIA(g_object_ref(media));
    }
    // On a prepared media this only counts one more user; the thread object
    // it wants is let go at once, and its quit request is run off here.
    GstRTSPThread* thread = gst_rtsp_thread_new(GST_RTSP_THREAD_TYPE_MEDIA);
    GMainContext* context = g_main_context_ref(thread->context);
    gst_rtsp_media_prepare(media, thread);
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_unref(context);
}

// A pipeline that went down (error, or the release at shutdown): the
// source lets go of its appsrc; a later client builds a new pipeline.
void LiveServerMediaSubsession::onUnprepared(LiveServerMediaSubsession* sub, GstRTSPMedia* media)
{
    auto* src = static_cast<GstElement*>(g_object_get_data(G_OBJECT(media), "tavlo-appsrc"));
    if (src)
        sub->m_source->detach(GST_APP_SRC(src));
    GstRTSPMedia* kept = nullptr;
    {
        std::lock_guard<std::mutex> lock(sub->m_mutex);
        if (sub->m_media == media) {
            kept = sub->m_media;
            sub->m_media = nullptr;
        }
    }
    if (kept)
        g_object_unref(kept);
}

namespace {
GstRTSPFilterResult countTransport(GstRTSPStream*, GstRTSPStreamTransport*, gpointer count)
{
    ++*static_cast<int*>(count);
    return GST_RTSP_FILTER_KEEP;
}
}  // namespace

int LiveServerMediaSubsession::playing()
{
    GstRTSPMedia* media;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_media)
            return 0;
        media = GST_RTSP_MEDIA(g_object_ref(m_media));
    }
    // A stream's transports are the active ones: added at PLAY, removed at
    // PAUSE, TEARDOWN and when the client or its session goes.
    int count = 0;
    for (guint i = 0; i < gst_rtsp_media_n_streams(media); ++i)
        gst_rtsp_stream_transport_filter(gst_rtsp_media_get_stream(media, i), countTransport, &count);
    g_object_unref(media);
    return count;
}

void LiveServerMediaSubsession::describe(GstSDPMessage* sdp)
{
    gst_sdp_message_set_session_name(sdp, DESCRIPTION);
    gst_sdp_message_set_information(sdp, STREAM_NAME);
    for (guint i = 0; i < gst_sdp_message_medias_len(sdp); ++i) {
        auto* media = const_cast<GstSDPMedia*>(gst_sdp_message_get_media(sdp, i));
        while (gst_sdp_media_bandwidths_len(media) > 0)
            gst_sdp_media_remove_bandwidth(media, 0);
        gst_sdp_media_add_bandwidth(media, GST_SDP_BWTYPE_AS, BANDWIDTH_KBPS);
    }
}
