#include "ColourConversion.h"

#include <cstddef>

void ColourConversion::bgraToI420(const uint8_t* src, int srcStride, int width, int height, uint8_t* y, int yStride,
                                  uint8_t* u, int uStride, uint8_t* v, int vStride)
{
    // Integer BT.601 coefficients (x256); chroma from the mean of each 2x2
    // block. Plain loops the compiler vectorises.
    for (int r = 0; r + 1 < height; r += 2) {
        const uint8_t* s0 = src + static_cast<size_t>(r) * srcStride;
        const uint8_t* s1 = s0 + srcStride;
        uint8_t* y0 = y + static_cast<size_t>(r) * yStride;
        uint8_t* y1 = y0 + yStride;
        uint8_t* uu = u + static_cast<size_t>(r / 2) * uStride;
        uint8_t* vv = v + static_cast<size_t>(r / 2) * vStride;
        for (int x = 0; x < width; ++x) {
            y0[x] = static_cast<uint8_t>(((66 * s0[4 * x + 2] + 129 * s0[4 * x + 1] + 25 * s0[4 * x] + 128) >> 8) + 16);
            y1[x] = static_cast<uint8_t>(((66 * s1[4 * x + 2] + 129 * s1[4 * x + 1] + 25 * s1[4 * x] + 128) >> 8) + 16);
        }
        for (int x = 0; x < width / 2; ++x) {
            const int b = s0[8 * x] + s0[8 * x + 4] + s1[8 * x] + s1[8 * x + 4];
            const int g = s0[8 * x + 1] + s0[8 * x + 5] + s1[8 * x + 1] + s1[8 * x + 5];
            const int rd = s0[8 * x + 2] + s0[8 * x + 6] + s1[8 * x + 2] + s1[8 * x + 6];
            uu[x] = static_cast<uint8_t>(((-38 * rd - 74 * g + 112 * b + 512) >> 10) + 128);
            vv[x] = static_cast<uint8_t>(((112 * rd - 94 * g - 18 * b + 512) >> 10) + 128);
        }
    }
}
