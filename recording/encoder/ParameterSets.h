#pragma once
#include <cstdint>
#include <vector>

namespace zv::h264 {

class BitWriter;

struct StreamLayout {
    int width = 0, height = 0;      // visible size
    int mbWidth = 0, mbHeight = 0;  // coded size in macroblocks
    int levelIdc = 0;
};

constexpr int kLog2MaxFrameNum = 8;
constexpr uint8_t kProfileIdc = 66;              // Baseline
constexpr uint8_t kConstraintFlags = 0x80 | 0x40;  // constraint_set0 and set1: Constrained Baseline

// Lowest level that holds this frame size at the frame rate and the bit rate; the highest level beyond.
int chooseLevel(int mbWidth, int mbHeight, int64_t frameDuration100ns, uint32_t bitrate);

// Largest vertical motion vector component, in whole samples, the level allows.
int verticalMotionLimit(int levelIdc);

std::vector<uint8_t> buildSpsRbsp(const StreamLayout& layout);
std::vector<uint8_t> buildPpsRbsp();

struct SliceHeader {
    bool idr = false;
    int frameNum = 0;
    int idrPicId = 0;
    int qp = 26;
};
void writeSliceHeader(BitWriter& out, const SliceHeader& header);

}  // namespace zv::h264
