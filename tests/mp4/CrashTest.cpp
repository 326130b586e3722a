// A recording that ends badly (full disk, lost file, kill, no finalize) must keep every complete
// fragment and decode cleanly; a failure must be reported as what it is and finalize must say so.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "Mp4TestSupport.h"

using namespace mp4test;

namespace {

constexpr int kFrames = 150;  // 5 s at 30 fps: three fragments or more

// What the child printed: "failure finalized stoppedEarly".
std::string runWriter(const std::string& path, const std::string& mode, uint64_t fileSizeLimit = 0) {
    return runCommand(std::string(ZV_CRASH_WRITER) + " '" + path + "' " + mode + " " + std::to_string(kFrames) +
                      (fileSizeLimit > 0 ? " " + std::to_string(fileSizeLimit) : ""));
}

// A file cut short must still play every frame it kept, each at its stamp, and its sound up to there.
void expectPlaysRegularPrefix(const std::string& path, bool withSound = false) {
    const auto packets = probe(path, "packets");
    const size_t kept = size_t(std::ranges::count(packets, "0", [](const ProbeSection& p) { return p.at("stream_index"); }));
    EXPECT_GE(kept, 1u) << path;
    expectPlaysAs(path, 64, 48, regularTimes(int(kept)), false, withSound);
}

}  // namespace

TEST(CrashSafety, FailedWritesKeepEveryCompleteFragmentAndAreReported) {
    const std::string reference = scratchDirectory() + "/complete.mp4";
    ASSERT_EQ(runWriter(reference, "finalize"), "0 1 0\n");
    expectPlaysAs(reference, 64, 48, regularTimes(kFrames), true);

    // Finalize leaves the samples where fragments put them; a fragment ends where the next
    // packet does not follow on directly (its header sits in between).
    const auto packets = probe(reference, "packets");
    std::vector<std::pair<uint64_t, int>> fragments;  // end offset, frames up to there
    for (size_t i = 0; i < packets.size(); ++i) {
        const uint64_t end = uint64_t(number(packets[i], "pos") + number(packets[i], "size"));
        if (i + 1 == packets.size() || uint64_t(number(packets[i + 1], "pos")) != end)
            fragments.emplace_back(end, int(i) + 1);
    }
    ASSERT_GE(fragments.size(), 3u);
    for (size_t k = 1; k < fragments.size(); ++k)
        EXPECT_LE(fragments[k].second - fragments[k - 1].second, 61) << "a fragment over 2 s";
    const auto [firstEnd, firstFrames] = fragments.front();
    const uint64_t lastEnd = fragments.back().first;
    const uint64_t indexSize = std::filesystem::file_size(reference) - lastEnd;
    ASSERT_GT(fragments[1].first - firstEnd, indexSize + 1);

    struct Cut {
        const char* where;
        uint64_t limit;
        int framesKept;
        bool plain;  // there was still room for the index once the broken fragment was gone
    };
    const Cut cuts[] = {
        {"exactly at the end of the first fragment", firstEnd, firstFrames, false},
        {"one byte into the second fragment", firstEnd + 1, firstFrames, false},
        {"inside the second fragment", firstEnd + indexSize + 1, firstFrames, true},
        {"inside the final index", lastEnd + indexSize / 2, kFrames, false},
        {"at the last byte of the final index", lastEnd + indexSize - 1, kFrames, false},
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.where);
        const std::string path = scratchDirectory() + "/cut-" + std::to_string(cut.limit) + ".mp4";
        // Disk full, finalize false, and frames refused once it happened while recording.
        EXPECT_EQ(runWriter(path, "finalize", cut.limit), cut.framesKept < kFrames ? "1 0 1\n" : "1 0 0\n");
        expectPlaysAs(path, 64, 48, regularTimes(cut.framesKept), cut.plain);
        EXPECT_EQ(topLevelBoxes(path).at(1) == "mdat", cut.plain);
    }
    // A file that stops taking writes for any other reason: Unreachable, and again cut back and indexed.
    const std::string vanished = scratchDirectory() + "/vanished.mp4";
    EXPECT_EQ(runWriter(vanished, "vanish"), "2 0 1\n");
    expectPlaysAs(vanished, 64, 48, regularTimes(firstFrames), true);
}

TEST(CrashSafety, DestroyedOrKilledAtRandomMomentsLeavesDecodableFiles) {
    const std::string destroyed = scratchDirectory() + "/destroyed.mp4";
    EXPECT_EQ(runWriter(destroyed, "destroy"), "");
    expectPlaysRegularPrefix(destroyed);

    std::mt19937 rng(20261207);  // fixed: the same kill moments every run
    for (int round = 0; round < 6; ++round) {
        const bool withSound = round % 2 == 1;
        SCOPED_TRACE("round " + std::to_string(round) + (withSound ? " with sound" : ""));
        const std::string path = scratchDirectory() + "/killed-" + std::to_string(round) + ".mp4";
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl(ZV_CRASH_WRITER, ZV_CRASH_WRITER, path.c_str(), withSound ? "sound" : "paced", "3000", (char*)nullptr);
            _exit(127);
        }
        // Wait (bounded) until a first fragment is complete, then kill at a random moment.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::ranges::count(topLevelBoxes(path), std::string("moof")) == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 400));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended before it was killed, status " << status;
        expectPlaysRegularPrefix(path, withSound);
    }
}
