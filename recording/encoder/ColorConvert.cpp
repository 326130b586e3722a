#include "ColorConvert.h"

#include <algorithm>
#include <emmintrin.h>

namespace zv::h264 {

namespace {

// BT.601 with 219/224 limited-range scaling, 15-bit fixed point (R, G, B).
constexpr int kY[3] = {8414, 16519, 3208};
constexpr int kU[3] = {-4857, -9535, 14392};
constexpr int kV[3] = {14392, -12051, -2341};

uint8_t lumaOf(const uint8_t* p) {
    return uint8_t((kY[0] * p[2] + kY[1] * p[1] + kY[2] * p[0] + (16 << 15) + (1 << 14)) >> 15);
}

uint8_t chromaOf(const int* k, int r, int g, int b) {  // r, g, b: sums of four pixels
    return uint8_t(std::clamp((k[0] * r + k[1] * g + k[2] * b + (128 << 17) + (1 << 16)) >> 17, 0, 255));
}

// Two pixel rows at once, 8 pixels per step; the same arithmetic as the scalar path.
void convertRowPairSse2(const uint8_t* top, const uint8_t* bottom, int pixels, uint8_t* yTop, uint8_t* yBottom,
                        uint8_t* u, uint8_t* v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i yCoef = _mm_setr_epi16(kY[2], kY[1], kY[0], 0, kY[2], kY[1], kY[0], 0);
    const __m128i uCoef = _mm_setr_epi16(kU[2], kU[1], kU[0], 0, kU[2], kU[1], kU[0], 0);
    const __m128i vCoef = _mm_setr_epi16(kV[2], kV[1], kV[0], 0, kV[2], kV[1], kV[0], 0);
    const __m128i yRound = _mm_set1_epi32((16 << 15) + (1 << 14));
    const __m128i cRound = _mm_set1_epi32((128 << 17) + (1 << 16));
    auto pairSums = [](__m128i a, __m128i b) {  // [a0+a1, a2+a3, b0+b1, b2+b3]
        const __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
        return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0))),
                             _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1))));
    };
    for (int x = 0; x < pixels; x += 8) {
        __m128i lumaTop[2], lumaBottom[2], chroma[2];
        for (int half = 0; half < 2; ++half) {
            const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + (x + half * 4) * 4));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + (x + half * 4) * 4));
            const __m128i tLo = _mm_unpacklo_epi8(t, zero), tHi = _mm_unpackhi_epi8(t, zero);
            const __m128i bLo = _mm_unpacklo_epi8(b, zero), bHi = _mm_unpackhi_epi8(b, zero);
            lumaTop[half] = _mm_srai_epi32(
                _mm_add_epi32(pairSums(_mm_madd_epi16(tLo, yCoef), _mm_madd_epi16(tHi, yCoef)), yRound), 15);
            lumaBottom[half] = _mm_srai_epi32(
                _mm_add_epi32(pairSums(_mm_madd_epi16(bLo, yCoef), _mm_madd_epi16(bHi, yCoef)), yRound), 15);
            const __m128i sLo = _mm_add_epi16(tLo, bLo), sHi = _mm_add_epi16(tHi, bHi);
            // pairSums twice: first per pixel, then per horizontal pixel pair.
            const __m128i uv = pairSums(pairSums(_mm_madd_epi16(sLo, uCoef), _mm_madd_epi16(sHi, uCoef)),
                                        pairSums(_mm_madd_epi16(sLo, vCoef), _mm_madd_epi16(sHi, vCoef)));
            chroma[half] = _mm_srai_epi32(_mm_add_epi32(uv, cRound), 17);  // [u0 u1 v0 v1]
        }
        const __m128i yt = _mm_packs_epi32(lumaTop[0], lumaTop[1]);
        const __m128i yb = _mm_packs_epi32(lumaBottom[0], lumaBottom[1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(yTop + x), _mm_packus_epi16(yt, yt));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(yBottom + x), _mm_packus_epi16(yb, yb));
        // [u0 u1 v0 v1] [u2 u3 v2 v3] -> bytes
        const __m128i uvPacked = _mm_packs_epi32(chroma[0], chroma[1]);  // u0 u1 v0 v1 u2 u3 v2 v3
        alignas(16) uint8_t bytes[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(uvPacked, uvPacked));
        u[x / 2 + 0] = bytes[0];
        u[x / 2 + 1] = bytes[1];
        u[x / 2 + 2] = bytes[4];
        u[x / 2 + 3] = bytes[5];
        v[x / 2 + 0] = bytes[2];
        v[x / 2 + 1] = bytes[3];
        v[x / 2 + 2] = bytes[6];
        v[x / 2 + 3] = bytes[7];
    }
}

// One 2x2 pixel group, for the frame edges the SSE2 path does not cover.
void convertQuadScalar(const uint8_t* tl, const uint8_t* tr, const uint8_t* bl, const uint8_t* br, uint8_t luma[4],
                       uint8_t& u, uint8_t& v) {
    luma[0] = lumaOf(tl);
    luma[1] = lumaOf(tr);
    luma[2] = lumaOf(bl);
    luma[3] = lumaOf(br);
    const int r = tl[2] + tr[2] + bl[2] + br[2], g = tl[1] + tr[1] + bl[1] + br[1], b = tl[0] + tr[0] + bl[0] + br[0];
    u = chromaOf(kU, r, g, b);
    v = chromaOf(kV, r, g, b);
}

}  // namespace

void convertMacroblocks(const BgraFrame& frame, int mbY, int firstMb, int endMb, YuvPicture& out) {
    const int x0 = firstMb * 16, x1 = endMb * 16;
    const int insideEnd = std::min(x1, frame.width & ~7);  // pixels the fast path may read
    for (int y = mbY * 16; y < mbY * 16 + 16; y += 2) {
        const uint8_t* top = frame.row(std::min(y, frame.height - 1));
        const uint8_t* bottom = frame.row(std::min(y + 1, frame.height - 1));
        uint8_t* yTop = out.lumaAt(0, y);
        uint8_t* yBottom = out.lumaAt(0, y + 1);
        uint8_t* u = out.u.data() + size_t(y / 2) * out.chromaStride();
        uint8_t* v = out.v.data() + size_t(y / 2) * out.chromaStride();
        int x = x0;
        if (insideEnd > x0) {
            const int count = (insideEnd - x0) & ~7;
            convertRowPairSse2(top + x0 * 4, bottom + x0 * 4, count, yTop + x0, yBottom + x0, u + x0 / 2, v + x0 / 2);
            x += count;
        }
        for (; x < x1; x += 2) {
            const int xa = std::min(x, frame.width - 1), xb = std::min(x + 1, frame.width - 1);
            uint8_t luma[4];
            convertQuadScalar(top + xa * 4, top + xb * 4, bottom + xa * 4, bottom + xb * 4, luma, u[x / 2], v[x / 2]);
            yTop[x] = luma[0];
            yTop[x + 1] = luma[1];
            yBottom[x] = luma[2];
            yBottom[x + 1] = luma[3];
        }
    }
}

}  // namespace zv::h264
