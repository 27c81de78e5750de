#ifndef TAVLO_RTCPGUARD_H
#define TAVLO_RTCPGUARD_H

#include <gst/gst.h>

// Keeps RTCP that claims to come from this server out of the RTP sessions.
// The server's RTCP port takes packets from anybody, and the RTSP connection
// of any client carries RTCP too: a report sent with the SSRC of our own
// stream (which every SETUP reply names) looks like a second sender with our
// SSRC, so the session says BYE and changes SSRC, and players such as
// FFmpeg take the BYE as the end of the stream. No honest peer sends RTCP
// as us: such compound packets are dropped before the session sees them.
//
// Installed on every "recv_rtcp_sink_%u" pad of a media's rtpbin, which all
// of a stream's RTCP passes (UDP, the RTSP connection's channel, and a
// multicast group alike); one guard per pad, so per media and session.
// The probe runs in the streaming thread that delivers the RTCP.
namespace RtcpGuard {

// Watches rtpbin for its RTCP receiving pads and guards each one (call when
// the media sets up its rtpbin, before any stream joins).
void watch(GstElement* rtpbin);

// Guards one RTCP receiving pad of rtpbin (a ghost pad of its session
// element's RTCP sink pad).
void install(GstPad* pad);

// Whether an RTCP compound packet names ssrc as the SSRC of its sender in
// any of its packets (a sender or receiver report, a source description
// chunk, a BYE, an APP, a feedback or extended report packet). Report blocks
// about ssrc, which every listener sends, do not count. False for a buffer
// that is not RTCP (the session drops those itself).
bool claimsSsrc(GstBuffer* rtcp, guint32 ssrc);

}  // namespace RtcpGuard

#endif
