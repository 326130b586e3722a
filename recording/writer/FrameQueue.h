#pragma once
// A bounded hand-off of raw frames from the capture thread to the encoding thread.
// Buffers are recycled, so memory stays at (capacity + 1) frames however long it runs.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace zv::writer {

struct QueuedFrame {
    std::vector<uint8_t> pixels;
    int64_t time100ns = 0;
};

class FrameQueue {
public:
    explicit FrameQueue(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    // Copies the frame in, waiting while the queue is full. False once closed.
    bool push(const uint8_t* data, size_t size, int64_t time100ns);

    // Hands out the oldest frame, waiting for one. The buffer the caller held in `frame`
    // goes back to the pool. False when closed and nothing (more) is to be handed out.
    bool pop(QueuedFrame& frame);

    // After close, push fails; pop drains what is queued, or nothing when discarding.
    void close(bool discardQueued);

    size_t buffersAllocated() const;

private:
    const size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QueuedFrame> frames_;
    std::vector<std::vector<uint8_t>> spare_;
    size_t reserved_ = 0;  // slots taken by pushes still copying
    size_t allocated_ = 0;
    bool closed_ = false;
};

}  // namespace zv::writer
