#include "FrameQueue.h"

#include <utility>

namespace zv::writer {

bool FrameQueue::push(const uint8_t* data, size_t size, int64_t time100ns) {
    std::vector<uint8_t> buffer;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return closed_ || frames_.size() + reserved_ < capacity_; });
        if (closed_) return false;
        ++reserved_;
        if (!spare_.empty()) {
            buffer = std::move(spare_.back());
            spare_.pop_back();
        } else {
            ++allocated_;
        }
    }
    // The copy runs outside the lock so the encoding thread is never held up by it.
    buffer.assign(data, data + size);
    {
        std::lock_guard lock(mutex_);
        --reserved_;
        if (closed_) {
            spare_.push_back(std::move(buffer));
            return false;
        }
        frames_.push_back(QueuedFrame{std::move(buffer), time100ns});
    }
    changed_.notify_all();
    return true;
}

bool FrameQueue::pop(QueuedFrame& frame) {
    {
        std::unique_lock lock(mutex_);
        if (frame.pixels.capacity() > 0) spare_.push_back(std::move(frame.pixels));
        frame.pixels = {};
        changed_.wait(lock, [&] { return closed_ || !frames_.empty(); });
        if (frames_.empty()) return false;
        frame = std::move(frames_.front());
        frames_.pop_front();
    }
    changed_.notify_all();
    return true;
}

void FrameQueue::close(bool discardQueued) {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        if (discardQueued) {
            for (QueuedFrame& f : frames_) spare_.push_back(std::move(f.pixels));
            frames_.clear();
        }
    }
    changed_.notify_all();
}

size_t FrameQueue::buffersAllocated() const {
    std::lock_guard lock(mutex_);
    return allocated_;
}

}  // namespace zv::writer
