// A recording that ends badly (full disk, lost file, kill, no finalize) must keep every complete
// fragment and decode cleanly; a failure must be reported as what it is and finalize must say so.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

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
void expectPlaysRegularPrefix(const std::string& path, size_t atLeast, bool withSound = false) {
    const auto packets = probe(path, "packets");
    const size_t kept = size_t(std::ranges::count(packets, "0", [](const ProbeSection& p) { return p.at("stream_index"); }));
    EXPECT_GE(kept, atLeast) << path;
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

TEST(CrashSafety, DestroyedOrKilledInsideAWriteLeavesDecodableFiles) {
    const std::string destroyed = scratchDirectory() + "/destroyed.mp4";
    EXPECT_EQ(runWriter(destroyed, "destroy"), "");
    expectPlaysRegularPrefix(destroyed, kFrames - 61);  // every fragment but a last one of up to 2 s

    // Killed inside the write that reaches a byte chosen at random in the last quarter of what a
    // whole run writes (the first fragment is complete by then): the file ends there, mid-write.
    const std::string sound = scratchDirectory() + "/sound.mp4";
    EXPECT_EQ(runWriter(sound, "sound"), "0 1 0\n");
    const uint64_t sizes[] = {std::filesystem::file_size(destroyed), std::filesystem::file_size(sound)};
    std::mt19937 rng(20261207);  // fixed: the same bytes every run
    for (int round = 0; round < 6; ++round) {
        const bool withSound = round % 2 == 1;
        const uint64_t limit = sizes[withSound] * 3 / 4 + rng() % (sizes[withSound] / 4);
        SCOPED_TRACE("killed at byte " + std::to_string(limit) + (withSound ? " with sound" : ""));
        const std::string path = scratchDirectory() + "/killed-" + std::to_string(round) + ".mp4";
        EXPECT_EQ(runWriter(path, withSound ? "sound" : "paced", limit), "") << "the writer ended before it was killed";
        expectPlaysRegularPrefix(path, 1, withSound);
    }
}
