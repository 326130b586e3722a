// The hand-off between the capture and encoding threads: order, bounded memory, closing.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "FrameQueue.h"

using namespace zv::writer;

TEST(FrameQueue, KeepsOrderWithinBoundedMemoryAndClosesEitherWay) {
    FrameQueue queue(3);
    constexpr int kFrames = 500;
    std::thread producer([&] {
        for (int i = 0; i < kFrames; ++i) {
            const std::vector<uint8_t> frame(64 + i % 50, uint8_t(i));
            if (!queue.push(frame.data(), frame.size(), i)) ADD_FAILURE() << "push " << i;
        }
        queue.close(false);  // what is queued still goes out
    });
    QueuedFrame frame;
    int expected = 0;
    for (; queue.pop(frame); ++expected) {
        if (expected % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a slow encoder
        ASSERT_EQ(frame.time100ns, expected);
        ASSERT_EQ(frame.pixels, std::vector<uint8_t>(64 + expected % 50, uint8_t(expected)));
    }
    producer.join();
    EXPECT_EQ(expected, kFrames);
    // A producer that ran ahead of the queue's three slots would have needed more buffers.
    EXPECT_LE(queue.buffersAllocated(), 4u);

    // Closing with discard drops what is queued and frees a producer that waits for room: the
    // close waits until the kernel shows that producer asleep.
    FrameQueue full(1);
    const uint8_t pixel = 1;
    ASSERT_TRUE(full.push(&pixel, 1, 0));
    std::atomic<pid_t> waiter{0};
    std::thread blocked([&] {
        waiter = gettid();
        EXPECT_FALSE(full.push(&pixel, 1, 1));
    });
    auto asleep = [&] {  // the third field of the thread's stat line
        std::string line;
        std::getline(std::ifstream("/proc/self/task/" + std::to_string(waiter.load()) + "/stat"), line);
        return waiter.load() != 0 && line.find(") S ") != std::string::npos;
    };
    for (int i = 0; i < 1000 && !asleep(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(asleep()) << "the second push should wait for room";
    full.close(true);
    blocked.join();
    EXPECT_FALSE(full.pop(frame));
}
