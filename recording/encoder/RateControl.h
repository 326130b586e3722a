#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <utility>

namespace zv::h264 {

// A frame's estimated cost before quantisation (SAD-like sums), apart for macroblocks that will likely be
// coded intra, which cost several times more bits per unit than a motion-compensated residual.
struct Complexity {
    double inter = 0, intra = 0;
    double total() const { return inter + intra; }
};

// Frame-level QP under the stream's rate bound: the frames of any 10 s window carry at most 110 % of the
// target. Bit cost is modelled as k * complexity / qstep, with one k for intra and one for inter content, and
// for P frames a correction learnt quickly from what recent ones really cost.
// Within the bound the bits are planned per key-frame interval, the IDR (the reference for everything that stays
// still until the next one) coded finer than the P frames, which share what is left; quiet stretches leave
// room in the window for the bursts (a page jump, a new IDR) that follow.
class RateController {
public:
    static constexpr int kMinQp = 12;
    static constexpr int kMaxQp = 51;
    static constexpr int64_t kWindow100ns = 100'000'000;

    RateController(uint32_t bitrate, int64_t frameDuration100ns, int64_t keyInterval100ns, int macroblocks);

    // Advances time to the frame and picks its QP. stillOnly: the frame only refines still content, which
    // says nothing about the level of motion and may go as fine as the plan affords.
    int chooseQp(bool idr, int64_t time100ns, Complexity complexity, bool stillOnly = false);
    // What the frame chosen for may take: within the window's bound, and for P frames leaving room for the
    // next IDR. A P frame at kMaxQp that would take more codes what fits and postpones the rest.
    double frameLimit() const { return frameLimit_; }
    bool fits(int64_t bits) const { return double(bits) <= frameLimit_; }
    // What a P frame at kMaxQp may take: content too hard for the rate is postponed to later frames.
    double overloadLimit() const { return std::min(frameLimit_, sustainable_); }
    void commit(bool idr, int qp, Complexity complexity, int64_t bits, bool stillOnly = false);
    double predictBits(bool idr, int qp, Complexity complexity) const;
    // The quantiser recent frames with content settled on (kMinQp before there were any).
    int steadyQp() const { return averageQp_ > 0 ? int(std::lround(averageQp_)) : kMinQp; }
    // Still content is refined alongside other changes from savings only: while the last IDR is not yet paid
    // for by frames coded under the rate, refinement would take the bits the plan gave the P frames of the
    // interval. A frame with nothing else to code may also spend its own share of the rate (stillShare).
    bool refinementAffordable(bool stillFrame) const {
        return debt_ + keyOwed_ < 0 || (stillFrame && stillShare() > kMinStillShare * bitrate_ * frameSeconds_);
    }

private:
    static constexpr double kMinStillShare = 0.25;  // of a frame's bits, below which refining is not worth a frame
    // What a frame gives the rate once its part of the last IDR and of the repayment of overspending are taken.
    double stillShare() const;
    double modelBits(int qp, Complexity complexity) const;  // what the two k's say, before headers and correction
    double room() const { return windowLimit_ - windowBits_; }
    int qpFor(bool idr, Complexity complexity, double bits) const;
    // Bits of frames in the window now that leave it by `time100ns`.
    double leavingBy(int64_t time100ns) const;
    Complexity typicalInter(Complexity current) const;
    int planQp(Complexity key, Complexity typical) const;

    double bitrate_;
    double windowLimit_;
    double keySeconds_;
    double intraHeaderBits_;  // what an IDR costs even when all of it is flat
    std::deque<std::pair<int64_t, double>> window_;  // time and bits of the frames of the last 10 s
    double windowBits_ = 0;
    double frameLimit_ = 0, sustainable_ = 0;
    double debt_ = 0;  // bits spent beyond the target rate, which P frames still owe
    // The last IDR's bits, and what of them is not yet in the debt: the plan spends them over the interval.
    double keyBits_ = 0, keyOwed_ = 0;
    int64_t lastTime_ = 0, lastKeyTime_ = 0;
    bool started_ = false;
    double frameSeconds_;  // recent spacing of frames, at first the nominal one
    double modelIntra_ = 1.0, modelInter_ = 1.0;
    double interRatio_ = 1.0;  // what recent P frames with content really cost over what the model said
    int intraSeen_ = 0, interSeen_ = 0;
    Complexity keyComplexity_;
    double interWeight_ = 0;  // long-run average of complexity^0.6 over P frames with content
    double intraShare_ = 0;   // of their complexity, on macroblocks likely coded intra
    double activeShare_ = 1;  // of P frames, those with content
    int lastInterQp_ = -1;
    double averageQp_ = 0;  // of recent inter frames with content to code
};

double quantizerStep(int qp);

}  // namespace zv::h264
