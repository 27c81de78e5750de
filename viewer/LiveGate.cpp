#include "LiveGate.h"

#include <algorithm>

namespace {

// Length of one window of the delay minimum: the base follows a lasting
// change of the path's delay (or of the clocks) within two windows.
const int64_t WINDOW_US = 2000000;
// Frame intervals outside this range are taken for a timestamp jump.
const int64_t MIN_INTERVAL_US = 5000;
const int64_t MAX_INTERVAL_US = 200000;

}  // namespace

void LiveGate::observe(int64_t readUs, int64_t ptsUs)
{
    if (readUs - windowStartUs_ > WINDOW_US) {
        minPrevious_ = minCurrent_;
        minCurrent_ = INT64_MAX;
        windowStartUs_ = readUs;
    }
    minCurrent_ = std::min(minCurrent_, readUs - ptsUs);
    if (lastPtsUs_ != INT64_MIN) {
        const int64_t step = ptsUs - lastPtsUs_;
        // Slices and parameter sets of one picture share its timestamp.
        if (step >= MIN_INTERVAL_US && step <= MAX_INTERVAL_US)
            intervalUs_ = (intervalUs_ * 7 + step) / 8;
    }
    if (ptsUs > lastPtsUs_)
        lastPtsUs_ = ptsUs;
}

int64_t LiveGate::lateness(int64_t nowUs, int64_t ptsUs) const
{
    const int64_t base = std::min(minCurrent_, minPrevious_);
    return base == INT64_MAX ? 0 : (nowUs - ptsUs) - base;
}

bool LiveGate::admit(int64_t readUs, int64_t ptsUs, bool key)
{
    observe(readUs, ptsUs);
    const int64_t late = lateness(readUs, ptsUs);
    if (!started_) {
        // Nothing before the first keyframe can be decoded.
        if (!key)
            return false;
        started_ = true;
        showNext_ = true;
        return true;
    }
    if (!skipping_ && late > SKIP_FRAMES * intervalUs_)
        skipping_ = true;
    if (skipping_) {
        if (!key || late > SHOW_FRAMES * intervalUs_)
            return false;
        skipping_ = false;
        showNext_ = true;
    }
    return true;
}

bool LiveGate::show(int64_t nowUs, int64_t ptsUs)
{
    if (showNext_) {
        showNext_ = false;
        return true;
    }
    return lateness(nowUs, ptsUs) <= static_cast<int64_t>(SHOW_FRAMES * static_cast<double>(intervalUs_));
}
