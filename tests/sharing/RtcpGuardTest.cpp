// Which RTCP the guard keeps out of the RTP session: packets that claim our
// SSRC as their sender's, in any packet of a compound, and nothing that an
// honest listener sends (its reports about our SSRC included).
#include "RtcpGuard.h"

#include <gst/rtp/gstrtcpbuffer.h>
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>

namespace {

const guint32 OURS = 0x6e3c0a5a, THEIRS = 0x12345678;

// A compound RTCP packet filled by fill (an owned buffer).
GstBuffer* compound(const std::function<void(GstRTCPBuffer*)>& fill)
{
    GstBuffer* buffer = gst_rtcp_buffer_new(1400);
    GstRTCPBuffer rtcp = GST_RTCP_BUFFER_INIT;
    gst_rtcp_buffer_map(buffer, GST_MAP_READWRITE, &rtcp);
    fill(&rtcp);
    gst_rtcp_buffer_unmap(&rtcp);
    return buffer;
}

// Adds a packet of a type to the compound; fill sets it up.
void add(GstRTCPBuffer* rtcp, GstRTCPType type, const std::function<void(GstRTCPPacket*)>& fill)
{
    GstRTCPPacket packet;
    ASSERT_TRUE(gst_rtcp_buffer_add_packet(rtcp, type, &packet));
    fill(&packet);
}

void receiverReport(GstRTCPBuffer* rtcp, guint32 sender, guint32 about)
{
    add(rtcp, GST_RTCP_TYPE_RR, [&](GstRTCPPacket* p) {
        gst_rtcp_packet_rr_set_ssrc(p, sender);
        gst_rtcp_packet_add_rb(p, about, 0, 0, 100, 0, 0, 0);
    });
}

void feedback(GstRTCPBuffer* rtcp, GstRTCPType type, GstRTCPFBType fb, guint32 sender, guint32 media)
{
    add(rtcp, type, [&](GstRTCPPacket* p) {
        gst_rtcp_packet_fb_set_type(p, fb);
        gst_rtcp_packet_fb_set_sender_ssrc(p, sender);
        gst_rtcp_packet_fb_set_media_ssrc(p, media);
    });
}

void bye(GstRTCPBuffer* rtcp, std::initializer_list<guint32> ssrcs)
{
    add(rtcp, GST_RTCP_TYPE_BYE, [&](GstRTCPPacket* p) {
        for (guint32 ssrc : ssrcs)
            gst_rtcp_packet_bye_add_ssrc(p, ssrc);
    });
}

void sourceDescription(GstRTCPBuffer* rtcp, std::initializer_list<guint32> ssrcs)
{
    add(rtcp, GST_RTCP_TYPE_SDES, [&](GstRTCPPacket* p) {
        const char cname[] = "user@host";
        for (guint32 ssrc : ssrcs) {
            gst_rtcp_packet_sdes_add_item(p, ssrc);
            gst_rtcp_packet_sdes_add_entry(p, GST_RTCP_SDES_CNAME, sizeof cname - 1,
                                           reinterpret_cast<const guint8*>(cname));
        }
    });
}

bool claims(GstBuffer* buffer)
{
    const bool result = RtcpGuard::claimsSsrc(buffer, OURS);
    gst_buffer_unref(buffer);
    return result;
}

class Rtcp : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!gst_is_initialized())
            gst_init(nullptr, nullptr);
    }
};

}  // namespace

TEST_F(Rtcp, ListenersReportsAboutOurStreamPass)
{
    EXPECT_FALSE(claims(compound([](GstRTCPBuffer* r) {
        receiverReport(r, THEIRS, OURS);
        sourceDescription(r, {THEIRS});
    })));
    // Their feedback about our stream (a picture loss indication).
    EXPECT_FALSE(claims(compound([](GstRTCPBuffer* r) {
        receiverReport(r, THEIRS, OURS);
        feedback(r, GST_RTCP_TYPE_PSFB, GST_RTCP_PSFB_TYPE_PLI, THEIRS, OURS);
    })));
    // A listener leaving.
    EXPECT_FALSE(claims(compound([](GstRTCPBuffer* r) {
        receiverReport(r, THEIRS, OURS);
        bye(r, {THEIRS});
    })));
}

// The stranger's packet from the field: a receiver report with our SSRC.
TEST_F(Rtcp, AnyPacketSentAsUsIsCaught)
{
    EXPECT_TRUE(claims(compound([](GstRTCPBuffer* r) { receiverReport(r, OURS, THEIRS); })));
    EXPECT_TRUE(claims(compound([](GstRTCPBuffer* r) {
        add(r, GST_RTCP_TYPE_SR, [](GstRTCPPacket* p) { gst_rtcp_packet_sr_set_sender_info(p, OURS, 0, 0, 0, 0); });
    })));
    // Hidden in the second packet of a compound, or the second source of a
    // description or of a BYE.
    EXPECT_TRUE(claims(compound([](GstRTCPBuffer* r) {
        receiverReport(r, THEIRS, OURS);
        sourceDescription(r, {OURS});
    })));
    EXPECT_TRUE(claims(compound([](GstRTCPBuffer* r) {
        receiverReport(r, THEIRS, OURS);
        sourceDescription(r, {THEIRS, OURS});
    })));
    EXPECT_TRUE(claims(compound([](GstRTCPBuffer* r) {
        receiverReport(r, THEIRS, OURS);
        bye(r, {THEIRS, OURS});
    })));
    EXPECT_TRUE(claims(compound([](GstRTCPBuffer* r) {
        receiverReport(r, THEIRS, OURS);
        feedback(r, GST_RTCP_TYPE_RTPFB, GST_RTCP_RTPFB_TYPE_NACK, OURS, THEIRS);
    })));
}

TEST_F(Rtcp, WhatIsNotRtcpIsLeftToTheSession)
{
    GstBuffer* junk = gst_buffer_new_allocate(nullptr, 32, nullptr);
    gst_buffer_memset(junk, 0, 0x81, 32);
    EXPECT_FALSE(claims(junk));
    // A report cut short after our SSRC.
    GstBuffer* whole = compound([](GstRTCPBuffer* r) { receiverReport(r, OURS, THEIRS); });
    GstBuffer* cut = gst_buffer_copy_region(whole, GST_BUFFER_COPY_ALL, 0, 6);
    gst_buffer_unref(whole);
    EXPECT_FALSE(claims(cut));
    EXPECT_FALSE(RtcpGuard::claimsSsrc(nullptr, OURS));
}
