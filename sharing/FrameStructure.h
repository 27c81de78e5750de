#ifndef TAVLO_FRAMESTRUCTURE_H
#define TAVLO_FRAMESTRUCTURE_H

#include <cstdint>

// One encoded H.264 access unit without its leading four-byte start code.
// The buffer is allocated with the full packet size (dataSize + 4); the
// record owns it and frees it when destroyed.
struct FrameStructure {
    uint8_t* dataPointer = nullptr;
    int32_t dataSize = 0;
    int32_t frameID = 0;

    FrameStructure() = default;
    ~FrameStructure() { delete[] dataPointer; }
    FrameStructure(const FrameStructure&) = delete;
    FrameStructure& operator=(const FrameStructure&) = delete;
};

#endif
