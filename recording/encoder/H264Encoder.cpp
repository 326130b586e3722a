#include "H264Encoder.h"
#include "EncoderReconstruction.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "BitWriter.h"
#include "ColorConvert.h"
#include "FrameDiff.h"
#include "MacroblockEncoder.h"
#include "ParameterSets.h"
#include "Picture.h"
#include "RateControl.h"

namespace zv::h264 {

namespace {

constexpr int kMaxDimension = 8192;
constexpr int kDominantCount = 3;
constexpr uint8_t kNalSps = 0x67, kNalPps = 0x68, kNalIdrSlice = 0x65, kNalSlice = 0x41;

// What choosing intra must save over the motion match, in lambdas: its header and prediction modes.
constexpr int kIntraPenalty = 24;

StreamLayout layoutFor(const H264EncoderConfig& c) {
    StreamLayout layout;
    layout.width = c.width;
    layout.height = c.height;
    layout.mbWidth = (c.width + 15) / 16;
    layout.mbHeight = (c.height + 15) / 16;
    layout.levelIdc = chooseLevel(layout.mbWidth, layout.mbHeight, c.frameDuration100ns, c.bitrate);
    return layout;
}

int lambdaFor(int qp) { return std::max(1, int(std::lround(std::exp2((qp - 12) / 6.0)))); }

}  // namespace

struct H264EncoderState {
    H264EncoderConfig config;
    StreamLayout layout;
    std::vector<uint8_t> sps, pps;
    std::vector<uint8_t> previousInput;  // the last frame as given, to find unchanged macroblocks
    YuvPicture source;
    YuvPicture recon[2];
    int referenceIndex = 0;  // recon[referenceIndex] is the reference, the other one is being built
    std::vector<MacroblockInfo> macroblocks;
    std::vector<uint8_t> changed, postponed;  // postponed: changed but skipped for lack of bits
    std::vector<uint8_t> copiedLastFrame, copiedThisFrame;  // reconstruction equal to the picture before it
    std::vector<MotionVector> searchedMv;
    std::vector<uint8_t> codedQp;  // the quantiser each macroblock's picture was last coded with
    int refineFrom = 0;            // where the next search for coarse still macroblocks starts
    std::vector<int> intraEstimate;
    MotionVector dominant[kDominantCount];  // whole-window motion of the last frame
    int dominantUsed = 0;
    RateController rate;
    BitWriter bits;
    int frameNum = 0;
    int idrCount = 0;
    int lastQp = 26;
    int64_t lastIdrTime = 0;
    bool started = false;
    int verticalMvLimit = 512;  // samples, from the level

    explicit H264EncoderState(const H264EncoderConfig& c)
        : config(c), layout(layoutFor(c)), rate(c.bitrate, c.frameDuration100ns, c.keyFrameInterval100ns, layout.mbWidth * layout.mbHeight) {}
    int mbCount() const { return layout.mbWidth * layout.mbHeight; }
    void convertChanged(const BgraFrame& frame);
    Complexity analyse(bool idr);
    // Changed macroblocks after the first `bitLimit` bits are postponed to later frames.
    void encodePicture(bool idr, int qp, int64_t bitLimit);
    int refineStillMacroblocks(bool stillFrame);
};

// Still content keeps the quality it was last coded with: an IDR squeezed by the rate, or a change coded
// under pressure, would stay coarse until the next IDR while a window moves elsewhere. A slice of the
// macroblocks coded coarser than the steady quality is coded again each frame, the rate controller
// weighing them like any other change. Returns how many.
int H264EncoderState::refineStillMacroblocks(bool stillFrame) {
    constexpr int kCoarserBy = 3;
    if (!rate.refinementAffordable(stillFrame)) return 0;
    const int count = mbCount(), limit = count / 8 + 1, coarse = rate.steadyQp() + kCoarserBy;
    int taken = 0, i = refineFrom;
    for (int scanned = 0; scanned < count && taken < limit; ++scanned, i = (i + 1) % count)
        if (!changed[i] && codedQp[i] > coarse) changed[i] = 1, ++taken;
    refineFrom = i;
    return taken;
}

void H264EncoderState::convertChanged(const BgraFrame& frame) {
    for (int mbY = 0; mbY < layout.mbHeight; ++mbY) {
        const uint8_t* flags = changed.data() + size_t(mbY) * layout.mbWidth;
        for (int mbX = 0; mbX < layout.mbWidth;) {
            if (!flags[mbX]) {
                ++mbX;
                continue;
            }
            int end = mbX;
            while (end < layout.mbWidth && flags[end]) ++end;
            convertMacroblocks(frame, mbY, mbX, end, source);
            mbX = end;
        }
    }
}

// Cheap per-macroblock cost estimates (intra: deviation from the mean; inter: best SAD of a motion search)
// that both steer the rate controller and seed the coding pass.
Complexity H264EncoderState::analyse(bool idr) {
    Complexity complexity;
    const int w = layout.mbWidth;
    const int lambda = lambdaFor(lastQp);
    const YuvPicture& reference = recon[referenceIndex];
    for (int i = 0; i < mbCount(); ++i)
        if (changed[i]) intraEstimate[i] = meanRemovedSad16x16(source.lumaAt(i % w * 16, i / w * 16), source.width);
    std::fill(searchedMv.begin(), searchedMv.end(), MotionVector{});
    if (idr) {
        for (int i = 0; i < mbCount(); ++i) complexity.intra += intraEstimate[i] + 32;
        return complexity;
    }
    // Whole-window motion found this frame comes first; last frame's stays a candidate while it goes on.
    MotionVector found[kDominantCount];
    const int foundCount = findDominantMotion(source, reference, changed.data(), intraEstimate.data(), w,
                                              layout.mbHeight, verticalMvLimit, found, kDominantCount);
    MotionVector candidates[4 + 2 * kDominantCount];
    int dominantCount = 0;
    for (const MotionVector* list : {found, dominant})
        for (int k = 0; k < (list == found ? foundCount : dominantUsed); ++k)
            if (std::find(candidates + 4, candidates + 4 + dominantCount, list[k]) == candidates + 4 + dominantCount)
                candidates[4 + dominantCount++] = list[k];
    dominantUsed = std::min(foundCount, kDominantCount);
    std::copy(found, found + dominantUsed, dominant);
    for (int mbY = 0; mbY < layout.mbHeight; ++mbY) {
        for (int mbX = 0; mbX < w; ++mbX) {
            const int i = mbY * w + mbX;
            if (!changed[i]) continue;
            const MotionVector zero;
            const MotionVector left = mbX > 0 ? searchedMv[i - 1] : zero;
            const MotionVector top = mbY > 0 ? searchedMv[i - w] : zero;
            const MotionVector topRight = mbY > 0 && mbX + 1 < w ? searchedMv[i - w + 1] : zero;
            const MotionVector predicted{int16_t(std::max(std::min(left.x, top.x), std::min(std::max(left.x, top.x), topRight.x))),
                                         int16_t(std::max(std::min(left.y, top.y), std::min(std::max(left.y, top.y), topRight.y)))};
            candidates[0] = predicted, candidates[1] = left, candidates[2] = top, candidates[3] = macroblocks[i].mv;
            const MotionSearchResult result = searchMotion(source, reference, mbX, mbY, predicted, candidates,
                                                           4 + dominantCount, lambda, verticalMvLimit);
            searchedMv[i] = result.mv;
            const bool likelyIntra = intraEstimate[i] + kIntraPenalty * lambda < result.sad;
            (likelyIntra ? complexity.intra : complexity.inter) += std::min(result.sad, intraEstimate[i]) + 32;
        }
    }
    return complexity;
}

void H264EncoderState::encodePicture(bool idr, int qp, int64_t bitLimit) {
    bits.clear();
    std::fill(postponed.begin(), postponed.end(), 0);
    writeSliceHeader(bits, {idr, idr ? 0 : frameNum, idrCount & 0xFFFF, qp});
    FrameCoding f;
    f.source = &source;
    f.reference = idr ? nullptr : &recon[referenceIndex];
    f.recon = &recon[referenceIndex ^ 1];
    f.macroblocks = macroblocks.data();
    f.mbWidth = layout.mbWidth;
    f.mbHeight = layout.mbHeight;
    f.qp = qp;
    f.lambda = lambdaFor(qp);
    f.bits = &bits;
    f.pSlice = !idr;
    for (int mbY = 0; mbY < layout.mbHeight; ++mbY) {
        for (int mbX = 0; mbX < layout.mbWidth; ++mbX) {
            const int i = mbY * layout.mbWidth + mbX;
            bool copied = false;
            if (idr) {
                encodeIntraMacroblock(f, mbX, mbY);
            } else if (!changed[i] || bits.bitCount() > bitLimit) {
                postponed[i] = changed[i];
                // Unchanged input: repeat the reference exactly, with a zero vector whatever the neighbours say.
                const bool matches = copiedLastFrame[i] && !changed[i];
                if (predictSkipMotionVector(f, mbX, mbY) == MotionVector{}) copied = encodeSkipMacroblock(f, mbX, mbY, matches);
                else copied = encodeZeroMotionMacroblock(f, mbX, mbY, matches);
            } else {
                const MotionVector predicted = predictMotionVector(f, mbX, mbY);
                const MotionVector skip = predictSkipMotionVector(f, mbX, mbY);
                MotionVector best = searchedMv[i];
                int bestCost = motionCost(source, *f.reference, mbX, mbY, best, predicted, f.lambda);
                for (MotionVector mv : {skip, MotionVector{}}) {
                    if (mv == best || !motionVectorInside(*f.reference, mbX, mbY, mv, verticalMvLimit)) continue;
                    const int cost = motionCost(source, *f.reference, mbX, mbY, mv, predicted, f.lambda);
                    if (cost < bestCost) bestCost = cost, best = mv;
                }
                // Intra when its prediction error, with a penalty for its costlier header, beats the motion
                // match; a uniform brightness change (a fade) counts half, being cheap to code as residual.
                const int judged = bestCost - dcDifference16x16(source.lumaAt(mbX * 16, mbY * 16), source.width,
                                                                f.reference->lumaAt(mbX * 16 + best.x / 4, mbY * 16 + best.y / 4),
                                                                f.reference->width) / 2;
                const bool intra = intraEstimate[i] < judged && intraCost(f, mbX, mbY) + kIntraPenalty * f.lambda < judged;
                if (intra) encodeIntraMacroblock(f, mbX, mbY);
                else copied = encodeInterMacroblock(f, mbX, mbY, best);
            }
            copiedThisFrame[i] = copied;
            if (idr || (changed[i] && !postponed[i])) codedQp[i] = uint8_t(qp);
        }
    }
    if (f.skipRun > 0) bits.putUe(uint32_t(f.skipRun));
    bits.putTrailingBits();
}

H264Encoder::H264Encoder(const H264EncoderConfig& config) {
    if (config.width < 16 || config.height < 16 || config.width % 2 || config.height % 2 ||
        config.width > kMaxDimension || config.height > kMaxDimension || config.bitrate == 0 ||
        config.frameDuration100ns <= 0)
        return;
    auto s = std::make_unique<H264EncoderState>(config);
    s->verticalMvLimit = verticalMotionLimit(s->layout.levelIdc);
    s->sps = makeNal(kNalSps, buildSpsRbsp(s->layout));
    s->pps = makeNal(kNalPps, buildPpsRbsp());
    const int count = s->mbCount();
    s->previousInput.assign(size_t(config.width) * config.height * 4, 0);
    s->source.allocate(s->layout.mbWidth * 16, s->layout.mbHeight * 16);
    for (YuvPicture& picture : s->recon) picture.allocate(s->layout.mbWidth * 16, s->layout.mbHeight * 16);
    s->macroblocks.assign(size_t(count), MacroblockInfo{});
    s->changed.assign(size_t(count), 0);
    s->postponed.assign(size_t(count), 0);
    s->copiedLastFrame.assign(size_t(count), 0);
    s->copiedThisFrame.assign(size_t(count), 0);
    s->searchedMv.assign(size_t(count), MotionVector{});
    s->codedQp.assign(size_t(count), 0);
    s->intraEstimate.assign(size_t(count), 0);
    state_ = std::move(s);
}

H264Encoder::~H264Encoder() = default;

bool H264Encoder::valid() const { return state_ != nullptr; }

const std::vector<uint8_t>& H264Encoder::sps() const {
    static const std::vector<uint8_t> empty;
    return state_ ? state_->sps : empty;
}

const std::vector<uint8_t>& H264Encoder::pps() const {
    static const std::vector<uint8_t> empty;
    return state_ ? state_->pps : empty;
}

const YuvPicture* lastReconstruction(const H264Encoder& encoder) {
    if (!encoder.state_ || !encoder.state_->started) return nullptr;
    return &encoder.state_->recon[encoder.state_->referenceIndex];
}

uint8_t H264Encoder::profileIdc() const { return kProfileIdc; }
uint8_t H264Encoder::constraintFlags() const { return kConstraintFlags; }
uint8_t H264Encoder::levelIdc() const { return state_ ? uint8_t(state_->layout.levelIdc) : 0; }

void H264Encoder::encode(const uint8_t* bgraBottomUp, int64_t time100ns, EncodedFrame& out) {
    out.data.clear();
    out.keyFrame = false;
    if (!state_ || !bgraBottomUp) return;
    H264EncoderState& s = *state_;
    const BgraFrame frame{bgraBottomUp, s.config.width, s.config.height};

    // A frame within half a frame of the interval is on time: timestamps rounded to 100 ns (333333 at
    // 30 fps) would otherwise put every IDR one frame past the interval.
    const bool idr = !s.started || time100ns - s.lastIdrTime >= s.config.keyFrameInterval100ns - s.config.frameDuration100ns / 2;
    bool onlyRefinement = false;
    if (!s.started) {
        std::memcpy(s.previousInput.data(), bgraBottomUp, s.previousInput.size());
        std::fill(s.changed.begin(), s.changed.end(), 1);
    } else {
        // Macroblocks postponed under rate pressure last time still owe their update.
        s.changed = s.postponed;
        detectChangedMacroblocks(frame, s.previousInput, s.layout.mbWidth, s.layout.mbHeight, s.changed);
        if (!idr) {
            const bool otherChanges = std::find(s.changed.begin(), s.changed.end(), 1) != s.changed.end();
            onlyRefinement = s.refineStillMacroblocks(!otherChanges) > 0 && !otherChanges;
        }
    }
    // Unchanged macroblocks keep their converted samples from earlier frames, even for an IDR.
    s.convertChanged(frame);
    if (idr) {
        std::fill(s.changed.begin(), s.changed.end(), 1);
        std::fill(s.copiedLastFrame.begin(), s.copiedLastFrame.end(), 0);
    }

    const Complexity complexity = s.analyse(idr);
    int qp = s.rate.chooseQp(idr, time100ns, complexity, onlyRefinement);
    // Coded again within a quantiser step of what it has, a macroblock gains next to nothing (the dead zone
    // drops the little that differs) and still costs its bits: it waits for a frame that can refine it further.
    constexpr int kRefinedBy = 2;
    if (onlyRefinement)
        for (int i = 0; i < s.mbCount(); ++i)
            if (s.changed[i] && s.codedQp[i] < qp + kRefinedBy) s.changed[i] = 0;
    constexpr int64_t kNoLimit = INT64_MAX;
    // What the access unit will weigh: length prefix, NAL header and a margin for emulation prevention bytes.
    auto unitBits = [&s] { return s.bits.bitCount() + 40 + s.bits.bitCount() / 128; };
    // At the coarsest quantiser a P picture codes what fits, top down, and leaves the rest for later frames:
    // content too hard for the rate costs quality, and not a further pass that would cost speed.
    auto bitLimit = [&] {
        return idr || qp < RateController::kMaxQp ? kNoLimit : std::max<int64_t>(0, int64_t(s.rate.overloadLimit() * 0.95) - 1024);
    };
    s.encodePicture(idr, qp, bitLimit());
    while (!s.rate.fits(unitBits()) && qp < RateController::kMaxQp) {
        const double over = double(unitBits()) / std::max(1.0, s.rate.frameLimit());
        qp = std::min(RateController::kMaxQp, qp + std::max(2, int(std::ceil(6 * std::log2(std::max(over, 1.0)))) + 1));
        s.encodePicture(idr, qp, bitLimit());
    }

    appendLengthPrefixedNal(out.data, idr ? kNalIdrSlice : kNalSlice, s.bits.bytes());
    out.keyFrame = idr;
    s.rate.commit(idr, qp, complexity, int64_t(out.data.size()) * 8, onlyRefinement);
    s.lastQp = qp;
    if (idr) {
        s.lastIdrTime = time100ns;
        ++s.idrCount;
        s.frameNum = 0;
    }
    s.frameNum = (s.frameNum + 1) & ((1 << kLog2MaxFrameNum) - 1);
    s.started = true;
    s.referenceIndex ^= 1;
    std::swap(s.copiedLastFrame, s.copiedThisFrame);
}

}  // namespace zv::h264
