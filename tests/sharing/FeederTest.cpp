// The feeder between the encoder and the shared pipeline, on a real appsrc
// in a small pipeline whose sink the tests can hold up: what reaches the
// sink is always a sequence a decoder can follow, whatever is trimmed.
#include "AppSrcFeeder.h"
#include "QScreenThread.h"
#include "TestSupport.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QThread>

#include <cstring>
#include <mutex>
#include <vector>

namespace {

const int GOP = 10;

// Access unit n of a stream with a keyframe every GOP pictures: a start
// code, an IDR or non-IDR slice header byte, then n in four bytes.
std::vector<uint8_t> unitBytes(int n)
{
    const bool key = n % GOP == 0;
    std::vector<uint8_t> b = {0, 0, 0, 1, static_cast<uint8_t>(key ? 0x65 : 0x41)};
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(n >> (8 * i)));
    b.resize(200, 0xab);
    return b;
}

// appsrc ! fakesink, as the shared pipeline's appsrc is set up, recording
// the number of every access unit that reaches the sink.
class Pipeline {
public:
    Pipeline()
    {
        if (!gst_is_initialized())
            gst_init(nullptr, nullptr);
        pipeline_ = gst_parse_launch("appsrc name=src is-live=true format=time do-timestamp=true min-latency=0 "
                                     "caps=video/x-h264,stream-format=byte-stream,alignment=au "
                                     "! fakesink name=sink sync=false signal-handoffs=true",
                                     nullptr);
        src_ = GST_APP_SRC(gst_bin_get_by_name(GST_BIN(pipeline_), "src"));
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
        sinkPad_ = gst_element_get_static_pad(sink, "sink");
        g_signal_connect(sink, "handoff", G_CALLBACK(&Pipeline::onHandoff), this);
        gst_object_unref(sink);
    }
    ~Pipeline()
    {
        release();
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(sinkPad_);
        gst_object_unref(src_);
        gst_object_unref(pipeline_);
    }
    GstAppSrc* src() const { return src_; }
    void play() { gst_element_set_state(pipeline_, GST_STATE_PLAYING); }
    void pause() { gst_element_set_state(pipeline_, GST_STATE_PAUSED); }
    // Holds every buffer at the sink's pad (the pipeline stops taking).
    void hold()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        blocked_ = false;
        block_ = gst_pad_add_probe(
            sinkPad_, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM,
            [](GstPad*, GstPadProbeInfo*, gpointer self) {
                auto* p = static_cast<Pipeline*>(self);
                std::lock_guard<std::mutex> lock(p->mutex_);
                p->blocked_ = true;
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
    }
    bool blocked()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return blocked_;
    }
    void release()
    {
        if (block_) {
            gst_pad_remove_probe(sinkPad_, block_);
            block_ = 0;
        }
    }
    std::vector<int> received()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    bool waitFor(size_t count)
    {
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        while (received().size() < count && !deadline.hasExpired())
            QThread::msleep(5);
        return received().size() >= count;
    }

private:
    static void onHandoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer self)
    {
        auto* p = static_cast<Pipeline*>(self);
        uint8_t b[9];
        if (gst_buffer_extract(buffer, 0, b, sizeof b) != sizeof b)
            return;
        const int n = b[5] | b[6] << 8 | b[7] << 16 | b[8] << 24;
        std::lock_guard<std::mutex> lock(p->mutex_);
        p->received_.push_back(n);
    }

    GstElement* pipeline_;
    GstAppSrc* src_;
    GstPad* sinkPad_;
    gulong block_ = 0;
    std::mutex mutex_;
    bool blocked_ = false;
    std::vector<int> received_;
};

class Feeder : public ::testing::Test {
protected:
    Feeder() : capture(nullptr, 1920, 1080, 30, GOP, 4000000), feeder(&capture) {}
    void push(int n, bool afterIdle = false)
    {
        const std::vector<uint8_t> b = unitBytes(n);
        capture.onFrame(QScreenThread::AccessUnit{b.data(), static_cast<int>(b.size()), n, n % GOP == 0, afterIdle});
    }
    QScreenThread capture;
    AppSrcFeeder feeder;
};

// Whether a decoder can follow the sequence: it starts at a keyframe and
// every other picture directly follows the one it refers to.
::testing::AssertionResult decodable(const std::vector<int>& seq)
{
    for (size_t i = 0; i < seq.size(); ++i) {
        if (seq[i] % GOP == 0)
            continue;
        if (i == 0 || seq[i - 1] != seq[i] - 1)
            return ::testing::AssertionFailure()
                   << "picture " << seq[i] << " follows " << (i ? std::to_string(seq[i - 1]) : "nothing");
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

// The feeder is the capture's frame-ready callback, and a new pipeline
// starts at a keyframe: what came before the first keyframe is left out.
TEST_F(Feeder, NewPipelineStartsAtAKeyframe)
{
    ASSERT_TRUE(static_cast<bool>(capture.onFrame));
    Pipeline p;
    p.play();
    feeder.attach(p.src());
    for (int n = 7; n < 25; ++n)
        push(n);
    ASSERT_TRUE(p.waitFor(15));
    const std::vector<int> got = p.received();
    EXPECT_EQ(got.front(), 10);
    EXPECT_EQ(got.back(), 24);
    EXPECT_TRUE(decodable(got));
    EXPECT_EQ(feeder.delivered(), 15u);
    EXPECT_EQ(feeder.trimmed(), 0u);
    feeder.detach(p.src());
    push(30);  // no pipeline bound: nothing goes anywhere
    EXPECT_EQ(feeder.delivered(), 15u);
}

// A pipeline that stops taking pictures: the appsrc holds at most 30; what
// comes after is left out up to a keyframe that finds room again, so the
// viewer sees a sequence it can decode, not pictures whose references were
// dropped. A keyframe is asked for at the trim.
TEST_F(Feeder, StalledPipelineIsTrimmedToWholeGroupsOfPictures)
{
    Pipeline p;
    p.play();
    feeder.attach(p.src());
    for (int n = 0; n < 3; ++n)
        push(n);
    ASSERT_TRUE(p.waitFor(3));
    p.hold();
    push(3);  // the one the sink holds
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (!p.blocked() && !deadline.hasExpired())
        QThread::msleep(5);
    ASSERT_TRUE(p.blocked());
    testing::internal::CaptureStdout();
    for (int n = 4; n < 47; ++n) {
        push(n);
        EXPECT_LE(gst_app_src_get_current_level_buffers(p.src()), AppSrcFeeder::BUFFER_LIMIT);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("GetFrame: 30\n"), std::string::npos);
    EXPECT_NE(out.find("GetFrame pop@@@: 30\n"), std::string::npos);
    EXPECT_GT(feeder.trimmed(), 0u);
    EXPECT_TRUE(capture.keyframeWanted()) << "a trim asks for a keyframe";
    p.release();
    ASSERT_TRUE(p.waitFor(34)) << "the held pictures come through";
    for (int n = 47; n < 65; ++n)
        push(n);
    // 0 to 33, then 50 to 64.
    ASSERT_TRUE(p.waitFor(34 + 15));
    const std::vector<int> got = p.received();
    EXPECT_TRUE(decodable(got));
    // Everything that found room came through, in order; then the
    // pictures from the next keyframe that came after the stall.
    ASSERT_EQ(got.size(), 34u + 15u);
    EXPECT_EQ(got[33], 33);
    EXPECT_EQ(got[34], 50);
    EXPECT_EQ(got.back(), 64);
}

// Access units that waited in the appsrc through an idle spell (the
// pipeline paused when the last watcher left) are stale: the first picture
// after the capture wakes up is the one that goes out first.
TEST_F(Feeder, PicturesFromBeforeAnIdleSpellAreDropped)
{
    Pipeline p;
    p.play();
    feeder.attach(p.src());
    for (int n = 0; n < 5; ++n)
        push(n);
    ASSERT_TRUE(p.waitFor(5));
    // A live source sends nothing on while paused: 5 and 6 wait (in the
    // appsrc, or the one its thread had already taken, in the source).
    p.pause();
    push(5);
    push(6);
    push(10, true);  // the keyframe made for a new watcher
    push(11);
    p.play();
    ASSERT_TRUE(p.waitFor(7));
    const std::vector<int> got = p.received();
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2, 3, 4, 10, 11}));
}
