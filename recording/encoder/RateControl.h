#pragma once
#include <cmath>
#include <cstdint>

namespace zv::h264 {

// Frame-level QP from a leaky bucket that drains at the target rate by timestamp, so any window of T seconds
// carries at most bitrate * T + bucket bits. Bit cost is modelled as k * complexity / qstep per frame type.
class RateController {
public:
    static constexpr int kMinQp = 12;
    static constexpr int kMaxQp = 51;
    static constexpr double kBucketSeconds = 0.8;

    explicit RateController(uint32_t bitrate);

    // Advances time to the frame and picks its QP.
    int chooseQp(bool idr, int64_t time100ns, double complexity);
    // Whether `bits` would keep the bucket within bounds.
    bool fits(int64_t bits) const { return fullness_ + double(bits) <= bucketBits_; }
    double room() const { return bucketBits_ - fullness_; }
    void commit(bool idr, int qp, double complexity, int64_t bits);
    double predictBits(bool idr, int qp, double complexity) const;
    // The quantiser recent frames with content settled on (kMinQp before there were any).
    int steadyQp() const { return averageQp_ > 0 ? int(std::lround(averageQp_)) : kMinQp; }

private:
    double bitrate_;
    double bucketBits_;
    double fullness_ = 0;
    int64_t lastTime_ = 0;
    bool started_ = false;
    double elapsedSeconds_ = 0;
    double modelIntra_ = 1.0, modelInter_ = 1.0;
    int lastInterQp_ = -1;
    double averageQp_ = 0;  // of recent inter frames with content to code
};

double quantizerStep(int qp);

}  // namespace zv::h264
