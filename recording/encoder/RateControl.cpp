#include "RateControl.h"

#include <algorithm>
#include <cmath>

namespace zv::h264 {

namespace {
constexpr double kFrameOverheadBits = 64;
}

double quantizerStep(int qp) { return 0.625 * std::exp2(qp / 6.0); }

RateController::RateController(uint32_t bitrate)
    : bitrate_(double(bitrate)), bucketBits_(double(bitrate) * kBucketSeconds) {}

double RateController::predictBits(bool idr, int qp, double complexity) const {
    return kFrameOverheadBits + (idr ? modelIntra_ : modelInter_) * complexity / quantizerStep(qp);
}

int RateController::chooseQp(bool idr, int64_t time100ns, double complexity) {
    elapsedSeconds_ = started_ ? std::max<double>(0, double(time100ns - lastTime_) * 1e-7) : 1.0 / 30;
    started_ = true;
    lastTime_ = time100ns;
    fullness_ = std::max(0.0, fullness_ - bitrate_ * elapsedSeconds_);
    const double room = bucketBits_ - fullness_;

    double target;
    if (idr) {
        // An intra picture may take a good share of the bucket, but need not be much better than recent frames.
        target = room * 0.8;
        if (lastInterQp_ >= 0) target = std::min(target, predictBits(true, std::max(kMinQp, lastInterQp_ - 3), complexity));
    } else {
        // Aim a little below the drain rate when the bucket is filling, above it when it is empty. It settles
        // a quarter full, leaving room for the next IDR, which would otherwise come out at the coarsest QP.
        const double steer = 1.0 + (0.25 * bucketBits_ - fullness_) / bucketBits_;
        target = std::min(room * 0.5, bitrate_ * std::min(elapsedSeconds_, 0.5) * steer);
    }
    int qp = kMinQp;
    while (qp < kMaxQp && predictBits(idr, qp, complexity) > target) ++qp;
    // A sudden change (a page jump, a window opening) may borrow from the bucket rather than be coded far
    // coarser than its neighbours: its picture is the reference for everything after it.
    // Only up to half the bucket, so that the IDRs still find room.
    if (!idr && averageQp_ > 0) {
        const double allowance = 0.5 * bucketBits_ - fullness_;
        int borrowed = steadyQp() + 2;
        while (borrowed < qp && predictBits(idr, borrowed, complexity) > allowance) ++borrowed;
        qp = std::min(qp, borrowed);
    }
    return qp;
}

void RateController::commit(bool idr, int qp, double complexity, int64_t bits) {
    fullness_ += double(bits);
    // Learn the model from what the frame really cost, half old and half new to ride out single odd frames.
    if (complexity > 0 && double(bits) > kFrameOverheadBits * 2) {
        const double observed = (double(bits) - kFrameOverheadBits) * quantizerStep(qp) / complexity;
        double& model = idr ? modelIntra_ : modelInter_;
        model = 0.5 * model + 0.5 * observed;
    }
    if (!idr && complexity > 0) {
        lastInterQp_ = qp;
        averageQp_ = averageQp_ > 0 ? 0.9 * averageQp_ + 0.1 * qp : qp;
    } else if (!idr && averageQp_ > kMinQp) {
        // Nothing changed: let the steady quality, to which still content is refined, rise slowly.
        averageQp_ = std::max(double(kMinQp), averageQp_ - 0.25);
    }
}

}  // namespace zv::h264
