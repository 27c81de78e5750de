#include "FramePacer.h"

FramePacer::FramePacer(int fps, Clock::time_point start) : m_fps(fps > 0 ? fps : 1), m_start(start) {}

FramePacer::Clock::time_point FramePacer::deadline(int64_t k) const
{
    // From the start each time, in whole nanoseconds: no rounding error adds up.
    return m_start + std::chrono::nanoseconds(k * 1000000000LL / m_fps);
}

int64_t FramePacer::next(Clock::time_point now)
{
    int64_t k = m_last + 1;
    if (now >= deadline(k + 1)) {
        // Overran: the period that is under way now, not the missed ones.
        const int64_t elapsedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_start).count();
        const int64_t current = elapsedNs * m_fps / 1000000000LL;
        m_missed += current - k;
        k = current;
    }
    m_last = k;
    return k;
}

void FramePacer::restart(Clock::time_point start)
{
    m_start = start;
    m_last = -1;
}
