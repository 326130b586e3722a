#include "RateControl.h"

#include <algorithm>
#include <cmath>

namespace zv::h264 {

namespace {
constexpr double kFrameOverheadBits = 64;
// Type, prediction modes and an empty DC block: what an intra macroblock costs at any quantiser.
constexpr double kIntraMacroblockBits = 8;
// Kept clear of the bound for the few bytes of emulation prevention and container an estimate may miss.
constexpr double kWindowMargin = 0.99;
// The IDR is coded this much finer than the P frames around it (a quantiser step 1.4 times smaller).
constexpr int kKeyQpOffset = 3;
// Neighbouring P frames differ by at most this many quantiser steps unless the window needs more.
constexpr int kInterQpStep = 2;
// The first IDR, with nothing yet to plan with, may take this share of its interval's bits.
constexpr double kFirstKeyShare = 0.5;
// Overspending is won back over about this many seconds, as x264's ABR buffer of two seconds' bits: over one
// second the correction sat at its bound for whole sequences after one costly IDR (a fade at 1 Mbit/s) and held
// every later IDR 5-6 steps coarser. Savings count up to two seconds' worth.
constexpr double kDebtSeconds = 2;
constexpr double kSavingsSeconds = 2;
// Bits go to a P frame in proportion to complexity^0.6: its QP moves 6 * 0.4 steps per doubling.
constexpr double kQpPerComplexityDoubling = 2.4;
// Still content is refined to at most this much finer than the planned P quality.
constexpr int kRefineBelowPlan = 6;
// How much each P frame moves the correction of the estimates: SAD overstates some content (a brightness
// drift that a coarse quantiser drops costs next to nothing), and the error lasts for as long as the motion.
constexpr double kInterRatioWeight = 0.3;
// Memory of the long-run averages, per P frame (a hundred frames, some three seconds at 30 fps).
constexpr double kLongRun = 0.99;
}  // namespace

double quantizerStep(int qp) { return 0.625 * std::exp2(qp / 6.0); }

RateController::RateController(uint32_t bitrate, int64_t frameDuration100ns, int64_t keyInterval100ns, int macroblocks)
    : bitrate_(double(bitrate)), windowLimit_(double(bitrate) * 11 * kWindowMargin),
      keySeconds_(double(keyInterval100ns) * 1e-7), intraHeaderBits_(kFrameOverheadBits + kIntraMacroblockBits * macroblocks),
      frameSeconds_(double(frameDuration100ns) * 1e-7) {}

double RateController::modelBits(int qp, Complexity complexity) const {
    return (modelInter_ * complexity.inter + modelIntra_ * complexity.intra) / quantizerStep(qp);
}

double RateController::stillShare() const {
    return frameSeconds_ * (bitrate_ - keyBits_ / keySeconds_ - std::max(0.0, debt_) / kDebtSeconds);
}

double RateController::predictBits(bool idr, int qp, Complexity complexity) const {
    return idr ? intraHeaderBits_ + modelBits(qp, complexity) : kFrameOverheadBits + interRatio_ * modelBits(qp, complexity);
}

int RateController::qpFor(bool idr, Complexity complexity, double bits) const {
    int qp = kMinQp;
    while (qp < kMaxQp && predictBits(idr, qp, complexity) > bits) ++qp;
    return qp;
}

double RateController::leavingBy(int64_t time100ns) const {
    double bits = 0;
    for (auto it = window_.begin(); it != window_.end() && time100ns - it->first >= kWindow100ns; ++it) bits += it->second;
    return bits;
}

Complexity RateController::typicalInter(Complexity current) const {
    if (interWeight_ <= 0) return current;
    const double total = std::pow(interWeight_, 1 / 0.6);
    return {total * (1 - intraShare_), total * intraShare_};
}

// The P-frame QP at which a key interval, its IDR kKeyQpOffset finer and its P frames of typical complexity
// (as many of them with content as lately), costs what the rate gives it.
int RateController::planQp(Complexity key, Complexity typical) const {
    const double frames = std::max(0.0, keySeconds_ / frameSeconds_ - 1);
    int qp = kMinQp;
    for (; qp < kMaxQp; ++qp) {
        const double pBits = kFrameOverheadBits + activeShare_ * (predictBits(false, qp, typical) - kFrameOverheadBits);
        if (predictBits(true, std::max(kMinQp, qp - kKeyQpOffset), key) + frames * pBits <= bitrate_ * keySeconds_) break;
    }
    return qp;
}

int RateController::chooseQp(bool idr, int64_t time100ns, Complexity complexity, bool stillOnly) {
    const double elapsed = started_ ? std::max<double>(0, double(time100ns - lastTime_) * 1e-7) : frameSeconds_;
    if (started_) frameSeconds_ = 0.9 * frameSeconds_ + 0.1 * std::clamp(elapsed, 1.0 / 120, 0.5);
    started_ = true;
    lastTime_ = time100ns;
    while (!window_.empty() && time100ns - window_.front().first >= kWindow100ns) {
        windowBits_ -= window_.front().second;
        window_.pop_front();
    }
    const double room = windowLimit_ - windowBits_;
    const double keyShare = std::min(keyOwed_, keyBits_ * elapsed / keySeconds_);
    keyOwed_ -= keyShare;
    debt_ = std::max(-kSavingsSeconds * bitrate_, debt_ + keyShare - bitrate_ * elapsed);
    // Overspending (or saving) lately coarsens (refines) the plan, by up to a factor of two in quantiser step.
    const int overflow = int(std::lround(6 * std::log2(std::clamp(1 + debt_ / (bitrate_ * kDebtSeconds), 0.5, 2.0))));
    const Complexity typical = typicalInter(complexity);

    if (idr) {
        // Before any P frame there is nothing to plan with: a share of the interval. A misjudged IDR is coded
        // again coarser rather than take more than half as much again.
        const double target = std::min(room * 0.9, kFirstKeyShare * bitrate_ * keySeconds_);
        frameLimit_ = std::min(room, 1.5 * target);
        int qp = qpFor(true, complexity, target);
        if (interWeight_ > 0) qp = std::max(qp, planQp(complexity, typical) + overflow - kKeyQpOffset);
        return std::min(qp, kMaxQp);
    }
    // A P frame takes at most half of what the window has left and a second's worth, and leaves room for the
    // next IDR even at the coarsest quantiser, counting what leaves the window by then.
    const double untilKey = std::max(0.0, keySeconds_ - double(time100ns - lastKeyTime_) * 1e-7);
    const double keyReserve = predictBits(true, kMaxQp, keyComplexity_) - leavingBy(time100ns + int64_t(untilKey * 1e7));
    frameLimit_ = std::max(0.0, std::min({room * 0.5, bitrate_, room - keyReserve}));
    // Content too hard even for kMaxQp gets what the rate sustains, less what is owed.
    sustainable_ = std::max(0.0, bitrate_ * frameSeconds_ - debt_ * frameSeconds_ / kDebtSeconds);

    const int planned = planQp(keyComplexity_.total() > 0 ? keyComplexity_ : complexity, typical) + overflow;
    int qp;
    if (stillOnly) {
        // Refinement spends what a typical frame would, down to the steady quality and a little below the plan.
        qp = std::max({qpFor(false, complexity, predictBits(false, planned, typical)), steadyQp(), planned - kRefineBelowPlan});
        if (debt_ + keyOwed_ >= 0) {
            // Not from savings: no more than the frame's own share, so that the debt still shrinks.
            qp = std::max(qp, qpFor(false, complexity, stillShare()));
            frameLimit_ = std::min(frameLimit_, 1.5 * stillShare());
        }
    } else {
        // Near a constant quality: a sudden change is coded near the quality of its neighbours, being the
        // reference for what follows.
        const double ratio = std::max(1.0, complexity.total()) / std::max(1.0, typical.total());
        qp = planned + int(std::lround(kQpPerComplexityDoubling * std::log2(ratio)));
        if (lastInterQp_ >= 0) qp = std::clamp(qp, lastInterQp_ - kInterQpStep, lastInterQp_ + kInterQpStep);
        qp = std::clamp(qp, kMinQp, kMaxQp);
    }
    while (qp < kMaxQp && predictBits(false, qp, complexity) > frameLimit_) ++qp;
    return qp;
}

void RateController::commit(bool idr, int qp, Complexity complexity, int64_t bits, bool stillOnly) {
    const bool content = complexity.total() > 0 && !stillOnly;
    if (!idr && content) {
        const double observed = std::max(1.0, double(bits) - kFrameOverheadBits) / std::max(1.0, modelBits(qp, complexity));
        interRatio_ += kInterRatioWeight * (std::clamp(observed, interRatio_ / 2, interRatio_ * 2) - interRatio_);
        interRatio_ = std::clamp(interRatio_, 0.1, 10.0);
    }
    window_.emplace_back(lastTime_, double(bits));
    windowBits_ += double(bits);
    if (idr) {
        // An IDR is owed as its interval goes by, not at once: P frames right after it would starve
        // (nothing coded, then a jump) to repay what the plan meant the whole interval to carry.
        debt_ += keyOwed_;
        keyBits_ = keyOwed_ = double(bits);
    } else {
        debt_ += double(bits);
    }
    // Learn the model from what the frame really cost: for an IDR its intra factor, for a P frame mostly of
    // inter content its inter factor from what the intra part leaves, slowly, as a P frame's cost swings with
    // the quantiser far more than the model says (grain coded at one step, dropped at the next). Single odd
    // frames move it at most by a factor of two; the first of each kind replaces the guess.
    // A black picture is nearly all headers and says little about the rest.
    const double headers = idr ? intraHeaderBits_ : kFrameOverheadBits;
    const double part = idr ? complexity.intra : complexity.inter;
    const double rest = idr ? 0 : modelIntra_ * complexity.intra / quantizerStep(qp);
    if (part > 0 && double(bits) - rest > headers * 2 && (idr || complexity.inter >= complexity.intra)) {
        double& model = idr ? modelIntra_ : modelInter_;
        const double observed = (double(bits) - rest - headers) * quantizerStep(qp) / part;
        if ((idr ? intraSeen_ : interSeen_)++ == 0) model = observed;
        else if (idr) model = 0.5 * model + 0.5 * std::clamp(observed, model / 2, model * 2);
        else model = 0.8 * model + 0.2 * std::clamp(observed, model / 2, model * 2);
    }
    if (idr) {
        lastKeyTime_ = lastTime_;
        keyComplexity_ = complexity;
        return;
    }
    activeShare_ = kLongRun * activeShare_ + (1 - kLongRun) * (content ? 1.0 : 0.0);
    if (content) {
        const double intra = complexity.intra / complexity.total(), weight = std::pow(complexity.total(), 0.6);
        intraShare_ = interWeight_ > 0 ? kLongRun * intraShare_ + (1 - kLongRun) * intra : intra;
        interWeight_ = interWeight_ > 0 ? kLongRun * interWeight_ + (1 - kLongRun) * weight : weight;
        lastInterQp_ = qp;
        averageQp_ = averageQp_ > 0 ? 0.9 * averageQp_ + 0.1 * qp : qp;
    } else if (averageQp_ > 0) {
        // Nothing moved: let the steady quality, to which still content is refined, rise quickly,
        // but no further than refinement can afford, or it would recode macroblocks at the quality they have.
        averageQp_ = std::max(double(kMinQp), averageQp_ - 3);
        if (stillOnly) averageQp_ = std::max(averageQp_, double(qp - 1));
    }
}

}  // namespace zv::h264
