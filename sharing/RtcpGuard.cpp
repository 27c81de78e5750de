#include "RtcpGuard.h"

#include "TavloRtspServer.h"

#include <gst/rtp/gstrtcpbuffer.h>


#define GST_CAT_DEFAULT tavlo_sharing_debug

namespace {

const char RTCP_PAD_PREFIX[] = "recv_rtcp_sink_";

bool packetClaims(GstRTCPPacket* packet, guint32 ssrc)
{
    switch (gst_rtcp_packet_get_type(packet)) {
    case GST_RTCP_TYPE_SR: {
        guint32 sender = 0;
        gst_rtcp_packet_sr_get_sender_info(packet, &sender, nullptr, nullptr, nullptr, nullptr);
        return sender == ssrc;
    }
    case GST_RTCP_TYPE_RR:
        return gst_rtcp_packet_rr_get_ssrc(packet) == ssrc;
    case GST_RTCP_TYPE_SDES:
        if (gst_rtcp_packet_sdes_first_item(packet)) {
            do {
                if (gst_rtcp_packet_sdes_get_ssrc(packet) == ssrc)
                    return true;
            } while (gst_rtcp_packet_sdes_next_item(packet));
        }
        return false;
    case GST_RTCP_TYPE_BYE:
        for (guint i = 0; i < gst_rtcp_packet_bye_get_ssrc_count(packet); ++i)
            if (gst_rtcp_packet_bye_get_nth_ssrc(packet, i) == ssrc)
                return true;
        return false;
    case GST_RTCP_TYPE_APP:
        return gst_rtcp_packet_app_get_ssrc(packet) == ssrc;
    case GST_RTCP_TYPE_RTPFB:
    case GST_RTCP_TYPE_PSFB:
        return gst_rtcp_packet_fb_get_sender_ssrc(packet) == ssrc;
    case GST_RTCP_TYPE_XR:
        return gst_rtcp_packet_xr_get_ssrc(packet) == ssrc;
    default:
        return false;
    }
}

// The RTP session (an RTPSession) behind one of rtpbin's RTCP receiving
// pads, found through the ghost pad's target on the session element; a new
// reference, or null.
GObject* sessionBehind(GstPad* pad)
{
    if (!GST_IS_GHOST_PAD(pad))
        return nullptr;
    GstPad* target = gst_ghost_pad_get_target(GST_GHOST_PAD(pad));
    if (!target)
        return nullptr;
    GObject* session = nullptr;
    if (GstElement* element = gst_pad_get_parent_element(target)) {
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "internal-session"))
            g_object_get(element, "internal-session", &session, nullptr);
        gst_object_unref(element);
    }
    gst_object_unref(target);
    return session;
}

// Streaming thread: RTCP on its way into the session.
// The SSRC that the session sends with is the one that the SETUP replies
// name and the outgoing RTP carries; it is read for every packet (it only
// changes after a collision, which this guard is there to prevent).
GstPadProbeReturn onRtcp(GstPad* pad, GstPadProbeInfo* info, gpointer session)
{
    guint32 ssrc = 0;
    g_object_get(session, "internal-ssrc", &ssrc, nullptr);
    bool claims = false;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        claims = RtcpGuard::claimsSsrc(GST_PAD_PROBE_INFO_BUFFER(info), ssrc);
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0; i < gst_buffer_list_length(list) && !claims; ++i)
            claims = RtcpGuard::claimsSsrc(gst_buffer_list_get(list, i), ssrc);
    }
    if (!claims)
        return GST_PAD_PROBE_OK;
    GST_INFO_OBJECT(pad, "RTCP that claims our SSRC %08x dropped", ssrc);
    return GST_PAD_PROBE_DROP;
}

void onPadAdded(GstElement*, GstPad* pad, gpointer)
{
    if (GST_PAD_IS_SINK(pad) && g_str_has_prefix(GST_PAD_NAME(pad), RTCP_PAD_PREFIX))
        RtcpGuard::install(pad);
}

}  // namespace

void RtcpGuard::watch(GstElement* rtpbin)
{
    g_signal_connect(rtpbin, "pad-added", G_CALLBACK(onPadAdded), nullptr);
}

void RtcpGuard::install(GstPad* pad)
{
    GObject* session = sessionBehind(pad);
    if (!session) {
        GST_WARNING_OBJECT(pad, "no RTP session behind the pad: its RTCP is not guarded");
        return;
    }
    gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      onRtcp, session, g_object_unref);
}

bool RtcpGuard::claimsSsrc(GstBuffer* rtcp, guint32 ssrc)
{
    // Reduced-size RTCP (a single feedback packet) is valid too.
    if (!rtcp || !gst_rtcp_buffer_validate_reduced(rtcp))
        return false;
    GstRTCPBuffer buffer = GST_RTCP_BUFFER_INIT;
    if (!gst_rtcp_buffer_map(rtcp, GST_MAP_READ, &buffer))
        return false;
    bool claims = false;
    GstRTCPPacket packet;
    if (gst_rtcp_buffer_get_first_packet(&buffer, &packet)) {
        do {
            claims = packetClaims(&packet, ssrc);
        } while (!claims && gst_rtcp_packet_move_to_next(&packet));
    }
    gst_rtcp_buffer_unmap(&buffer);
    return claims;
}
