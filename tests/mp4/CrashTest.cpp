// A recording cut off without finalize (process exit, SIGKILL, or just the destructor) must
// decode cleanly up to within about two seconds of the cut.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "BoxParser.h"
#include "MuxerFixtures.h"

using namespace mp4test;

namespace {

constexpr int kFrames = 150;  // 5 s at 30 fps

bool hasFragment(const std::string& path) {
    const std::vector<uint8_t> bytes = readFile(path);
    uint64_t at = 0;
    while (at + 8 <= bytes.size()) {
        if (std::memcmp(&bytes[at + 4], "moof", 4) == 0) return true;
        const uint64_t size = be32(bytes, at);
        if (size < 8) return false;
        at += size;
    }
    return false;
}

void cutAndCheck(const std::string& mode, int width, int height) {
    const std::string path = scratchDirectory() + "/crash-" + mode + ".mp4";
    int exitCode = 0;
    const std::string command = std::string(ZV_CRASH_WRITER) + " '" + path + "' " + mode + " " +
                                std::to_string(kFrames) + " " + std::to_string(width) + " " + std::to_string(height) +
                                " 2>&1";
    const std::string output = runCommand(command, &exitCode);
    if (mode == "kill") {
        EXPECT_TRUE(exitCode == -1 || exitCode == 128 + 9) << exitCode << output;  // ended by the signal
    } else {
        EXPECT_EQ(exitCode, 0) << output;
    }
    EXPECT_EQ(decodeErrors(path), "");
    const auto streams = probe(path, "stream");
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(number(streams[0], "width"), width);
    EXPECT_EQ(number(streams[0], "height"), height);
    const auto frames = probe(path, "frame");
    ASSERT_FALSE(frames.empty());
    ASSERT_LE(frames.size(), size_t(kFrames));
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_NEAR(number(frames[i], "pts_time"), i * 333'333 / 1e7, 0.001) << i;
    }
    const double lastShown = number(frames.back(), "pts_time");
    const double cut = (kFrames - 1) * 333'333 / 1e7;
    EXPECT_GE(lastShown, cut - 2.2) << "lost more than about two seconds";
}

}  // namespace

TEST(CrashSafety, ProcessExitWithoutFinalize) { cutAndCheck("exit", 64, 48); }
TEST(CrashSafety, ProcessKilled) { cutAndCheck("kill", 64, 48); }
TEST(CrashSafety, DestructorWithoutFinalize) { cutAndCheck("destroy", 64, 48); }

TEST(CrashSafety, KilledAtRandomMomentsLeavesDecodableFiles) {
    std::mt19937 rng(20261207);  // fixed: the same kill moments every run
    const std::string path = scratchDirectory() + "/crash-random.mp4";
    for (int round = 0; round < 6; ++round) {
        std::filesystem::remove(path);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl(ZV_CRASH_WRITER, ZV_CRASH_WRITER, path.c_str(), "paced", "3000", "64", "48", (char*)nullptr);
            _exit(127);
        }
        // Wait (bounded) until a first fragment is complete, then kill at a random moment.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!hasFragment(path) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(hasFragment(path)) << "no fragment was written within 30 s";
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 400));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended before it was killed, status " << status;
        SCOPED_TRACE("round " + std::to_string(round));
        EXPECT_EQ(decodeErrors(path), "");
        const auto frames = probe(path, "frame");
        EXPECT_FALSE(frames.empty());
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_NEAR(number(frames[i], "pts_time"), i * 333'333 / 1e7, 0.001) << i;
        }
    }
}
