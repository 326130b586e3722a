// A recording cut off without finalize (process exit, SIGKILL, or just the destructor) must
// decode cleanly up to within about two seconds of the cut.
#include <gtest/gtest.h>

#include "MuxerFixtures.h"

using namespace mp4test;

namespace {

constexpr int kFrames = 150;  // 5 s at 30 fps

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
