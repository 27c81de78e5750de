#include "RtspSource.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <algorithm>
#include <cstring>

namespace {

// Access units the sink holds while the viewer is busy: ten seconds of
// pictures. Beyond that the connection itself waits (TCP flow control);
// the viewer drops what is late (LiveGate), so this is only a bound.
const guint MAX_QUEUED_UNITS = 300;
// How long the tear-down waits for the peer to answer TEARDOWN.
const guint64 TEARDOWN_TIMEOUT_NS = 100 * GST_MSECOND;

const char* const UNIT_CAPS = "video/x-h264,stream-format=byte-stream,alignment=au";

// An element, or null when the plug-in is missing.
GstElement* make(const char* factory)
{
    return gst_element_factory_make(factory, nullptr);
}

}  // namespace

RtspSource::RtspSource(const QString& url, Transport transport) : transport_(transport)
{
    startUs_ = g_get_monotonic_time();
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    pipeline_ = gst_pipeline_new(nullptr);
    GstElement* src = make("rtspsrc");
    if (!pipeline_ || !src) {
        if (src)
            gst_object_unref(src);
        error_ = true;
        return;
    }
    // Latency first: RTP interleaved in the RTSP connection, nothing held
    // back to smooth jitter, and the stream's own timestamps (the viewer
    // judges lateness from them).
    g_object_set(G_OBJECT(src), "location", url.toUtf8().constData(), "latency", 0u, "teardown-timeout",
                 TEARDOWN_TIMEOUT_NS, nullptr);
    gst_util_set_object_arg(G_OBJECT(src), "protocols", transport == Transport::Multicast ? "udp-mcast" : "tcp");
    gst_util_set_object_arg(G_OBJECT(src), "buffer-mode", "none");
    gst_bin_add(GST_BIN(pipeline_), src);
    g_signal_connect(src, "pad-added", G_CALLBACK(onPadAdded), this);
    g_signal_connect(src, "no-more-pads", G_CALLBACK(onNoMorePads), this);

    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, reinterpret_cast<GstBusSyncHandler>(onBusMessage), this, nullptr);
    gst_object_unref(bus);

    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        error_ = true;
}

RtspSource::~RtspSource()
{
    if (!pipeline_)
        return;
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    if (sink_)
        gst_object_unref(sink_);
    gst_object_unref(pipeline_);
}

// A streaming thread of rtspsrc: one pad per stream of the session. The
// first H.264 video stream goes through the depayloader to the sink; any
// other stream is read and dropped.
void RtspSource::onPadAdded(GstElement*, GstPad* pad, void* data)
{
    auto* self = static_cast<RtspSource*>(data);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const GstStructure* s = caps && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
    const char* media = s ? gst_structure_get_string(s, "media") : nullptr;
    const char* encoding = s ? gst_structure_get_string(s, "encoding-name") : nullptr;
    const bool video = media && std::strcmp(media, "video") == 0;
    const bool h264 = video && encoding && g_ascii_strcasecmp(encoding, "H264") == 0;
    if (caps)
        gst_caps_unref(caps);

    GstBin* bin = GST_BIN(self->pipeline_);
    if (h264 && !self->linkedVideo_.load()) {
        // rtspsrc adds the pad with the stream's first packet.
        if (self->transport_ == Transport::Multicast) {
            self->lastPacketUs_ = g_get_monotonic_time();
            gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                              reinterpret_cast<GstPadProbeCallback>(onPacket), self, nullptr);
        }
        GstElement* depay = make("rtph264depay");
        GstElement* sink = make("appsink");
        if (depay && sink) {
            GstCaps* unitCaps = gst_caps_from_string(UNIT_CAPS);
            g_object_set(G_OBJECT(sink), "caps", unitCaps, "sync", FALSE, "max-buffers", MAX_QUEUED_UNITS, "drop",
                         FALSE, "enable-last-sample", FALSE, nullptr);
            gst_caps_unref(unitCaps);
            gst_bin_add_many(bin, depay, sink, nullptr);
            GstPad* in = gst_element_get_static_pad(depay, "sink");
            const bool linked = gst_element_link(depay, sink) && gst_pad_link(pad, in) == GST_PAD_LINK_OK;
            gst_object_unref(in);
            gst_element_sync_state_with_parent(sink);
            gst_element_sync_state_with_parent(depay);
            if (linked) {
                self->sink_ = GST_APP_SINK(gst_object_ref(sink));
                self->linkedVideo_ = true;
                return;
            }
        } else {
            if (depay)
                gst_object_unref(depay);
            if (sink)
                gst_object_unref(sink);
        }
        self->error_ = true;
        return;
    }
    if (video && !h264)
        self->otherVideo_ = true;
    GstElement* drop = make("fakesink");
    if (!drop)
        return;
    g_object_set(G_OBJECT(drop), "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(bin, drop);
    GstPad* in = gst_element_get_static_pad(drop, "sink");
    gst_pad_link(pad, in);
    gst_object_unref(in);
    gst_element_sync_state_with_parent(drop);
}

void RtspSource::onNoMorePads(GstElement*, void* data)
{
    static_cast<RtspSource*>(data)->noMorePads_ = true;
}

// Any thread that posts: only failures and the end matter; nothing is
// queued. A dropped message is the handler's to release.
int RtspSource::onBusMessage(GstBus*, GstMessage* message, void* data)
{
    auto* self = static_cast<RtspSource*>(data);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
        self->error_ = true;
    else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_PROGRESS)
        self->notePlaySent(message);
    else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS)
        self->eos_ = true;
    gst_message_unref(message);
    return GST_BUS_DROP;
}

// rtspsrc reports each request it sends as progress; "Sent PLAY request"
// completes the PLAY.
void RtspSource::notePlaySent(GstMessage* message)
{
    GstProgressType type;
    gchar* code = nullptr;
    gchar* text = nullptr;
    gst_message_parse_progress(message, &type, &code, &text);
    if (type == GST_PROGRESS_TYPE_COMPLETE && code && std::strcmp(code, "request") == 0 && text &&
        std::strstr(text, "PLAY") && playSentUs_.load() == 0)
        playSentUs_ = g_get_monotonic_time();
    g_free(code);
    g_free(text);
}

int RtspSource::onPacket(GstPad*, void*, void* data)
{
    static_cast<RtspSource*>(data)->lastPacketUs_ = g_get_monotonic_time();
    return GST_PAD_PROBE_OK;
}

bool RtspSource::multicastSilent(int64_t nowUs) const
{
    if (transport_ != Transport::Multicast)
        return false;
    const int64_t last = lastPacketUs_.load();
    const int64_t since = last != 0 ? last : std::max(startUs_, playSentUs_.load());
    return nowUs - since > MULTICAST_SILENCE_US;
}

RtspSource::Status RtspSource::next(int timeoutMs, Unit* unit, const char** failure)
{
    // The sink is set once, by the streaming thread, before linkedVideo_.
    if (linkedVideo_.load() && sink_) {
        if (GstSample* sample = gst_app_sink_try_pull_sample(sink_, static_cast<GstClockTime>(timeoutMs) * GST_MSECOND)) {
            GstBuffer* buffer = gst_sample_get_buffer(sample);
            GstMapInfo map;
            if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                unit->data.assign(map.data, map.data + map.size);
                gst_buffer_unmap(buffer, &map);
                const GstClockTime pts = GST_BUFFER_PTS(buffer);
                unit->ptsUs = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<int64_t>(pts / GST_USECOND) : INT64_MIN;
                gst_sample_unref(sample);
                gotUnit_ = true;
                return Status::Unit;
            }
            gst_sample_unref(sample);
        }
    } else {
        // Still setting the session up: look again soon, so that the first
        // picture is not kept waiting.
        const gint64 until = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
        while (!linkedVideo_.load() && !error_.load() && !noMorePads_.load() && g_get_monotonic_time() < until)
            g_usleep(2000);
    }
    const bool sinkEnded = linkedVideo_.load() && sink_ && gst_app_sink_is_eos(sink_);
    if (error_.load() || eos_.load() || sinkEnded) {
        if (gotUnit_)
            return Status::Ended;
        *failure = "Could not open the stream";
        return Status::Failed;
    }
    if (noMorePads_.load() && !linkedVideo_.load()) {
        *failure = otherVideo_.load() ? "Could not find a decoder" : "Could not find a video stream";
        return Status::Failed;
    }
    return Status::Waiting;
}
