#ifndef TAVLO_LIVEGATE_H
#define TAVLO_LIVEGATE_H

#include <cstdint>

// Keeps the viewer live: decides, from the stream's own timestamps and the
// times at which its packets are read, which packets go to the decoder and
// which decoded pictures are shown.
//
// A packet read at time t with timestamp pts is (t - pts) - base late, where
// base is the smallest (t - pts) seen over the last few seconds: the delay
// of the packets that came straight through. Data that waited in the socket
// buffer because decoding or display fell behind is late by that wait.
//
// - A picture more than about two frame intervals late is decoded but not
//   shown (the following pictures need it).
// - A packet more than SKIP_FRAMES intervals late starts a skip: nothing is
//   decoded until a keyframe that is on time again.
// The first picture after the start or a skip is always shown.
//
// Times are microseconds on any one clock; timestamps microseconds of the
// stream. Used by the viewer thread only; no locking.
class LiveGate {
public:
    // How many frame intervals late a packet may be before the gate skips
    // to the next keyframe.
    static constexpr int SKIP_FRAMES = 6;
    // How late a picture may be, in frame intervals, and still be shown.
    static constexpr double SHOW_FRAMES = 2.5;

    // A packet of the video stream was read at readUs; key: it starts a
    // picture the decoder can begin with. True: give it to the decoder.
    bool admit(int64_t readUs, int64_t ptsUs, bool key);
    // A decoded picture with that timestamp is ready at nowUs. True: show it.
    bool show(int64_t nowUs, int64_t ptsUs);

    bool skipping() const { return skipping_; }
    int64_t frameIntervalUs() const { return intervalUs_; }
    // How late a packet or picture with that timestamp is at nowUs.
    int64_t lateness(int64_t nowUs, int64_t ptsUs) const;

private:
    void observe(int64_t readUs, int64_t ptsUs);

    // The minimum of (read - pts) over the current and the previous window.
    int64_t windowStartUs_ = 0;
    int64_t minCurrent_ = INT64_MAX;
    int64_t minPrevious_ = INT64_MAX;
    int64_t lastPtsUs_ = INT64_MIN;
    int64_t intervalUs_ = 33333;  // until the stream says otherwise
    bool started_ = false;        // a keyframe has been admitted
    bool skipping_ = false;
    bool showNext_ = true;        // the next picture is shown whatever its age
};

#endif
