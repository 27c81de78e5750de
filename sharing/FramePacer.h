#ifndef TAVLO_FRAMEPACER_H
#define TAVLO_FRAMEPACER_H

#include <chrono>
#include <cstdint>

// The timetable of a loop that runs a fixed number of times a second: period
// k begins at start + k / fps seconds on the steady clock, so the loop never
// drifts however long each pass takes or however a sleep overshoots, and the
// wall clock stepping plays no part. A pass that overran starts the next
// period that is still ahead instead of racing through the missed ones.
//
// A pure calculation: the caller reads the clock and sleeps. One thread.
class FramePacer {
public:
    using Clock = std::chrono::steady_clock;

    FramePacer(int fps, Clock::time_point start);

    // The period that the next pass belongs to, given the time now: the
    // one after the last period handed out, or, when that has begun more
    // than a whole period ago (the pass before overran), the last period
    // that has begun. Counts from 0.
    int64_t next(Clock::time_point now);
    // When period k begins.
    Clock::time_point deadline(int64_t k) const;
    // Starts the timetable again at start, from period 0 (after an idle
    // spell).
    void restart(Clock::time_point start);

    // Periods left out so far because a pass overran.
    int64_t missed() const { return m_missed; }

private:
    int m_fps;
    Clock::time_point m_start;
    int64_t m_last = -1;
    int64_t m_missed = 0;
};

#endif
