#include "AppSrcFeeder.h"

#include "TavloRtspServer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#define GST_CAT_DEFAULT tavlo_sharing_debug

namespace {

// The clock of the push times that travel with the buffers (a reference
// timestamp meta): GLib's monotonic clock, in nanoseconds.
GstStaticCaps PUSHED_AT = GST_STATIC_CAPS("timestamp/x-tavlo-monotonic");

// Borrowed; one reference is kept for the process.
GstCaps* pushedAt()
{
    static GstCaps* caps = gst_static_caps_get(&PUSHED_AT);
    return caps;
}

gint64 monotonicNs()
{
    return g_get_monotonic_time() * 1000;
}

}  // namespace

AppSrcFeeder::AppSrcFeeder(QScreenThread* capture, QScreenThread::Channel channel)
    : m_capture(capture), m_channel(channel)
{
    auto feed = [this](const QScreenThread::AccessUnit& unit) { push(unit); };
    if (m_channel == QScreenThread::Channel::Full)
        m_capture->setCallbackFunctionFrameIsReady(feed);
    else
        m_capture->setThumbnailCallback(feed);
}

AppSrcFeeder::~AppSrcFeeder()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    release();
}

void AppSrcFeeder::push(const QScreenThread::AccessUnit& unit)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Strictly in the order of the pushes, even within one tick of the clock.
    const gint64 stamp = std::max(monotonicNs(), m_lastStampNs + 1);
    m_lastStampNs = stamp;
    if (unit.afterIdle)
        m_outlet->resumedAtNs = stamp;
    if (!m_appsrc || unit.size <= 0)
        return;
    const guint64 level = gst_app_src_get_current_level_buffers(m_appsrc);
    if (level >= BUFFER_LIMIT && !m_needKeyframe) {
        // The pipeline is not taking pictures: from here on up to a
        // keyframe nothing goes in, so nothing that cannot be decoded does.
        m_needKeyframe = true;
        m_trimming = true;
        m_capture->requestKeyframe(m_channel);
    }
    if (m_needKeyframe && (!unit.keyframe || level >= BUFFER_LIMIT)) {
        if (m_trimming) {
            ++m_trimmed;
            // Pinned: one line per access unit left out by the trim.
            if (!QScreenThread::quiet())
                std::printf("GetFrame pop@@@: %d\n", static_cast<int>(level));
        }
        return;
    }
    m_needKeyframe = false;
    m_trimming = false;

    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, static_cast<gsize>(unit.size), nullptr);
    if (!buffer)
        return;
    gst_buffer_fill(buffer, 0, unit.data, static_cast<gsize>(unit.size));
    gst_buffer_add_reference_timestamp_meta(buffer, pushedAt(), static_cast<GstClockTime>(stamp),
                                            GST_CLOCK_TIME_NONE);
    // The appsrc stamps it with the pipeline clock (the wall clock) now.
    if (gst_app_src_push_buffer(m_appsrc, buffer) != GST_FLOW_OK)
        return;
    ++m_delivered;
    // Pinned: one line per access unit that enters, with what the appsrc holds.
    if (!QScreenThread::quiet())
        std::printf("GetFrame: %d\n", static_cast<int>(level + 1));
}

// Streaming thread: an access unit leaves the appsrc for the payloader.
GstPadProbeReturn AppSrcFeeder::onLeave(GstPad*, GstPadProbeInfo* info, gpointer outlet)
{
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const Outlet& o = **static_cast<std::shared_ptr<Outlet>*>(outlet);
    GstReferenceTimestampMeta* pushed =
        buffer ? gst_buffer_get_reference_timestamp_meta(buffer, pushedAt()) : nullptr;
    if (pushed && static_cast<gint64>(pushed->timestamp) < o.resumedAtNs) {
        GST_DEBUG("an access unit from before the idle spell dropped");
        return GST_PAD_PROBE_DROP;
    }
    // Pinned: one line per access unit that the pipeline takes.
    if (!QScreenThread::quiet())
        std::printf("GetFramec: %s", "GetFrame@@\n");
    return GST_PAD_PROBE_OK;
}

void AppSrcFeeder::attach(GstAppSrc* appsrc)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        release();
        m_appsrc = GST_APP_SRC(gst_object_ref(appsrc));
        // The level check above is the limit; the appsrc's own byte limit
        // would only make it complain about large keyframes.
        gst_app_src_set_max_bytes(m_appsrc, 0);
        gst_app_src_set_max_buffers(m_appsrc, BUFFER_LIMIT);
        if (GstPad* pad = gst_element_get_static_pad(GST_ELEMENT(appsrc), "src")) {
            m_probe = gst_pad_add_probe(
                pad, GST_PAD_PROBE_TYPE_BUFFER, &AppSrcFeeder::onLeave, new std::shared_ptr<Outlet>(m_outlet),
                [](gpointer outlet) { delete static_cast<std::shared_ptr<Outlet>*>(outlet); });
            gst_object_unref(pad);
        }
        m_needKeyframe = true;
        m_trimming = false;
    }
    // The new pipeline learns the stream's parameters from a first
    // keyframe, even when nobody watches yet.
    m_capture->requestPicture(m_channel);
}

void AppSrcFeeder::detach(GstAppSrc* appsrc)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_appsrc == appsrc)
        release();
}

void AppSrcFeeder::release()
{
    if (!m_appsrc)
        return;
    if (m_probe) {
        if (GstPad* pad = gst_element_get_static_pad(GST_ELEMENT(m_appsrc), "src")) {
            gst_pad_remove_probe(pad, m_probe);
            gst_object_unref(pad);
        }
        m_probe = 0;
    }
    gst_object_unref(m_appsrc);
    m_appsrc = nullptr;
}
