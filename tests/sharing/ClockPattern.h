#ifndef TAVLO_TESTS_CLOCKPATTERN_H
#define TAVLO_TESTS_CLOCKPATTERN_H

// A pattern of large black and white blocks at the top left of the screen
// that carries the wall-clock time (milliseconds, low 32 bits), a sequence
// number and a check word. The painter draws a new one every few
// milliseconds; readers decode it from the frames a client receives, so
// every decoded frame proves itself whole (check word) and tells its age.

#include <cstdint>

namespace clockpattern {

constexpr int BLOCK = 32;             // block edge in pixels
constexpr int COLUMNS = 32;           // blocks per row
constexpr int ROWS = 2;               // 64 bits
constexpr int WIDTH = BLOCK * COLUMNS;  // 1024
constexpr int HEIGHT = BLOCK * ROWS;    // 64

inline uint32_t check(uint32_t ms, uint32_t seq)
{
    uint32_t h = ms * 2654435761u ^ (seq + 0x9e3779b9u) * 40503u;
    h ^= h >> 15;
    return h & 0xffffu;
}

// Bit i of the 64 is block (i % COLUMNS, i / COLUMNS); 1 = white.
inline bool bit(uint32_t ms, uint32_t seq, int i)
{
    if (i < 32)
        return (ms >> i) & 1u;
    if (i < 48)
        return (seq >> (i - 32)) & 1u;
    return (check(ms, seq) >> (i - 48)) & 1u;
}

struct Reading {
    bool valid = false;  // every block clearly black or white, check word right
    uint32_t ms = 0;
    uint32_t seq = 0;
};

// Reads the pattern from an 8-bit grey picture (row stride in bytes) whose
// top left holds it.
inline Reading read(const uint8_t* grey, int stride)
{
    Reading r;
    uint64_t bits = 0;
    bool clear = true;
    for (int i = 0; i < COLUMNS * ROWS; ++i) {
        const int x0 = (i % COLUMNS) * BLOCK + BLOCK / 4, y0 = (i / COLUMNS) * BLOCK + BLOCK / 4;
        unsigned sum = 0;
        for (int y = y0; y < y0 + BLOCK / 2; ++y)
            for (int x = x0; x < x0 + BLOCK / 2; ++x)
                sum += grey[y * stride + x];
        const unsigned mean = sum / ((BLOCK / 2) * (BLOCK / 2));
        if (mean > 64 && mean < 192)
            clear = false;
        if (mean >= 128)
            bits |= uint64_t(1) << i;
    }
    r.ms = static_cast<uint32_t>(bits & 0xffffffffu);
    r.seq = static_cast<uint32_t>((bits >> 32) & 0xffffu);
    r.valid = clear && static_cast<uint32_t>(bits >> 48) == check(r.ms, r.seq);
    return r;
}

}  // namespace clockpattern

#endif
