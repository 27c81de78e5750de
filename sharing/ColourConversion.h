#ifndef TAVLO_COLOURCONVERSION_H
#define TAVLO_COLOURCONVERSION_H

#include <cstdint>

// The capture's colour conversion, the one file built optimised (-O2) even
// in debug builds: the capture must keep its 30 frames a second.
namespace ColourConversion {

// Converts 32-bit BGRA to planar YUV 4:2:0 (BT.601, limited range) at the
// same size: the grab's usual path, several times cheaper than the general
// scaler. Width and height even.
void bgraToI420(const uint8_t* src, int srcStride, int width, int height, uint8_t* y, int yStride, uint8_t* u,
                int uStride, uint8_t* v, int vStride);

}  // namespace ColourConversion

#endif
