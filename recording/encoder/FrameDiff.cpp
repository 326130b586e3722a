#include "FrameDiff.h"

#include <algorithm>
#include <cstring>
#include <emmintrin.h>

namespace zv::h264 {

namespace {

bool samePixels(const uint8_t* a, const uint8_t* b, int pixels) {
    const __m128i colourMask = _mm_set1_epi32(0x00FFFFFF);
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 4 <= pixels; i += 4) {
        const __m128i diff = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i * 4)),
                                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i * 4)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(diff, colourMask), zero)) != 0xFFFF) return false;
    }
    for (; i < pixels; ++i)
        if (a[i * 4] != b[i * 4] || a[i * 4 + 1] != b[i * 4 + 1] || a[i * 4 + 2] != b[i * 4 + 2]) return false;
    return true;
}

}  // namespace

void detectChangedMacroblocks(const BgraFrame& frame, std::vector<uint8_t>& previous, int mbWidth, int mbHeight,
                              std::vector<uint8_t>& changed) {
    const size_t rowBytes = size_t(frame.width) * 4;
    auto storedRow = [&](int y) { return previous.data() + size_t(frame.height - 1 - y) * rowBytes; };
    for (int mbY = 0; mbY < mbHeight; ++mbY) {
        uint8_t* rowFlags = changed.data() + size_t(mbY) * mbWidth;
        const int yEnd = std::min(mbY * 16 + 16, frame.height);
        bool anyChanged = false;
        for (int y = mbY * 16; y < yEnd; ++y) {
            const uint8_t* now = frame.row(y);
            const uint8_t* before = storedRow(y);
            // Whole-row test first: most rows of a screen do not change at all.
            if (std::memcmp(now, before, rowBytes) == 0) continue;
            for (int mbX = 0; mbX < mbWidth; ++mbX) {
                if (rowFlags[mbX]) continue;
                const int x0 = mbX * 16, pixels = std::min(16, frame.width - x0);
                if (!samePixels(now + x0 * 4, before + x0 * 4, pixels)) rowFlags[mbX] = 1, anyChanged = true;
            }
        }
        if (!anyChanged && std::find(rowFlags, rowFlags + mbWidth, 1) == rowFlags + mbWidth) continue;
        for (int y = mbY * 16; y < yEnd; ++y) {
            uint8_t* dst = storedRow(y);
            const uint8_t* src = frame.row(y);
            for (int mbX = 0; mbX < mbWidth; ++mbX) {
                if (!rowFlags[mbX]) continue;
                const int x0 = mbX * 16, pixels = std::min(16, frame.width - x0);
                std::memcpy(dst + x0 * 4, src + x0 * 4, size_t(pixels) * 4);
            }
        }
    }
}

}  // namespace zv::h264
