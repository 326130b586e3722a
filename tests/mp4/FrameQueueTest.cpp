// The hand-off between capture and encoding threads: order, blocking, draining, bounded memory.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "FrameQueue.h"

using namespace zv::mp4;
using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> taggedFrame(uint32_t tag, size_t size = 64) {
    std::vector<uint8_t> frame(size, uint8_t(tag * 7));
    std::memcpy(frame.data(), &tag, 4);
    return frame;
}

uint32_t tagOf(const QueuedFrame& f) {
    uint32_t tag;
    std::memcpy(&tag, f.pixels.data(), 4);
    return tag;
}

}  // namespace

TEST(FrameQueue, KeepsOrderAndContentAcrossThreadsWithBoundedBuffers) {
    FrameQueue queue(3);
    constexpr uint32_t kFrames = 2000;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kFrames; ++i) {
            const std::vector<uint8_t> frame = taggedFrame(i, 64 + i % 50);
            if (!queue.push(frame.data(), frame.size(), int64_t(i) * 10)) {
                ADD_FAILURE() << "push " << i;
                break;
            }
        }
        queue.close(false);
    });
    QueuedFrame frame;
    uint32_t expected = 0;
    while (queue.pop(frame)) {
        ASSERT_EQ(tagOf(frame), expected);
        ASSERT_EQ(frame.time100ns, int64_t(expected) * 10);
        ASSERT_EQ(frame.pixels.size(), 64u + expected % 50);
        ASSERT_EQ(frame.pixels.back(), uint8_t(expected * 7));
        ++expected;
    }
    producer.join();
    EXPECT_EQ(expected, kFrames);
    EXPECT_LE(queue.buffersAllocated(), 4u);  // capacity + the one the consumer holds
}

TEST(FrameQueue, PushWaitsWhileFullAndResumesWhenAFrameIsTaken) {
    FrameQueue queue(2);
    const std::vector<uint8_t> frame = taggedFrame(1);
    ASSERT_TRUE(queue.push(frame.data(), frame.size(), 1));
    ASSERT_TRUE(queue.push(frame.data(), frame.size(), 2));
    std::atomic<bool> returned{false};
    auto third = std::async(std::launch::async, [&] {
        const bool ok = queue.push(frame.data(), frame.size(), 3);
        returned = true;
        return ok;
    });
    // Not a timing pass condition: a push into a full queue must not return at all.
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(returned);
    QueuedFrame out;
    ASSERT_TRUE(queue.pop(out));
    EXPECT_EQ(out.time100ns, 1);
    ASSERT_EQ(third.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(third.get());
    ASSERT_TRUE(queue.pop(out));
    EXPECT_EQ(out.time100ns, 2);
    ASSERT_TRUE(queue.pop(out));
    EXPECT_EQ(out.time100ns, 3);
}

TEST(FrameQueue, CloseDrainsOrDiscards) {
    const std::vector<uint8_t> frame = taggedFrame(5);
    {
        FrameQueue queue(3);
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue.push(frame.data(), frame.size(), i));
        queue.close(false);
        EXPECT_FALSE(queue.push(frame.data(), frame.size(), 9));
        QueuedFrame out;
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(queue.pop(out));
            EXPECT_EQ(out.time100ns, i);
        }
        EXPECT_FALSE(queue.pop(out));
    }
    {
        FrameQueue queue(3);
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue.push(frame.data(), frame.size(), i));
        queue.close(true);
        QueuedFrame out;
        EXPECT_FALSE(queue.pop(out));
    }
}

TEST(FrameQueue, CloseReleasesBlockedProducerAndConsumer) {
    FrameQueue full(1);
    const std::vector<uint8_t> frame = taggedFrame(1);
    ASSERT_TRUE(full.push(frame.data(), frame.size(), 1));
    auto blockedPush = std::async(std::launch::async, [&] { return full.push(frame.data(), frame.size(), 2); });
    FrameQueue empty(1);
    auto blockedPop = std::async(std::launch::async, [&] {
        QueuedFrame out;
        return empty.pop(out);
    });
    std::this_thread::sleep_for(50ms);
    full.close(true);
    empty.close(false);
    ASSERT_EQ(blockedPush.wait_for(10s), std::future_status::ready);
    ASSERT_EQ(blockedPop.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(blockedPush.get());
    EXPECT_FALSE(blockedPop.get());
}

TEST(FrameQueue, ZeroCapacityMeansOne) {
    FrameQueue queue(0);
    const std::vector<uint8_t> frame = taggedFrame(1);
    ASSERT_TRUE(queue.push(frame.data(), frame.size(), 1));
    QueuedFrame out;
    ASSERT_TRUE(queue.pop(out));
    EXPECT_EQ(tagOf(out), 1u);
}
