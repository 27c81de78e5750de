#ifndef TAVLO_LINETHROTTLE_H
#define TAVLO_LINETHROTTLE_H

#include <cstdint>

// Keeps a diagnostic that a sender can provoke at will (an ignored command,
// a dropped announcement) to one line per interval: events in between are
// only counted, and the next line says how many there were. No clock of its
// own: every call is given the time (milliseconds, any monotonic epoch).
// Not thread-safe; one owner thread.
class LineThrottle {
public:
    explicit LineThrottle(int64_t intervalMs = 1000) : intervalMs_(intervalMs) {}

    // True when a line may be printed for an event at nowMs; *suppressed
    // then gets the number of events since the last line that printed none.
    bool allow(int64_t nowMs, int64_t* suppressed)
    {
        if (printed_ && nowMs - lastMs_ < intervalMs_) {
            ++suppressed_;
            return false;
        }
        *suppressed = suppressed_;
        suppressed_ = 0;
        lastMs_ = nowMs;
        printed_ = true;
        return true;
    }

private:
    int64_t intervalMs_;
    int64_t lastMs_ = 0;
    int64_t suppressed_ = 0;
    bool printed_ = false;
};

#endif
