#include "H264Encoder.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {

std::mutex mutex;
std::condition_variable changed;
const mp4test::TestH264Stream* stream = nullptr;
bool held = false;
size_t entered = 0;
std::vector<fake_encoder::Call> recorded;

uint32_t readTag(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

H264Encoder::H264Encoder(const H264EncoderConfig& config) {
    std::lock_guard lock(mutex);
    valid_ = stream && config.width >= 16 && config.height >= 16 && config.width % 2 == 0 && config.height % 2 == 0;
    frameBytes_ = size_t(config.width) * size_t(config.height) * 4;
}

const std::vector<uint8_t>& H264Encoder::sps() const { return stream->sps; }
const std::vector<uint8_t>& H264Encoder::pps() const { return stream->pps; }

void H264Encoder::encode(const uint8_t* bgraBottomUp, int64_t time100ns, EncodedFrame& out) {
    std::unique_lock lock(mutex);
    ++entered;
    recorded.push_back({time100ns, readTag(bgraBottomUp), readTag(bgraBottomUp + frameBytes_ - 4)});
    changed.notify_all();
    changed.wait_for(lock, std::chrono::seconds(60), [] { return !held; });
    const mp4test::TestAccessUnit& unit = stream->frames[next_++ % stream->frames.size()];
    out.data = unit.data;
    out.keyFrame = unit.keyFrame;
}

namespace fake_encoder {

void useStream(const mp4test::TestH264Stream* s) {
    std::lock_guard lock(mutex);
    stream = s;
}

void hold(bool h) {
    {
        std::lock_guard lock(mutex);
        held = h;
    }
    changed.notify_all();
}

void reset() {
    std::lock_guard lock(mutex);
    held = false;
    entered = 0;
    recorded.clear();
}

std::vector<Call> calls() {
    std::lock_guard lock(mutex);
    return recorded;
}

bool waitForCalls(size_t count, int timeoutMs) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return entered >= count; });
}

}  // namespace fake_encoder
