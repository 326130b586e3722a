// Helper for the crash test: records frames through VideoFileWriter and then dies without
// finalizing. Usage: mp4_crash_writer FILE MODE FRAMES WIDTH HEIGHT, MODE one of
//   exit     _exit(0) right after the last writeFrame
//   kill     SIGKILL itself right after the last writeFrame
//   destroy  let the writer's destructor run (no finalize)
//   paced    1 ms between frames, finalize at the end: for being killed from outside at any moment
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "VideoFileWriter.h"
#include "TestStreams.h"
#include "WriterFixtures.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s FILE exit|kill|destroy FRAMES WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[2];
    const int frames = std::atoi(argv[3]);
    const int width = std::atoi(argv[4]);
    const int height = std::atoi(argv[5]);
    mp4test::prepareEncoder(width, height);
    // Nothing of this process is needed on disk after here, and it may not live to clean up.
    std::error_code ignored;
    std::filesystem::remove_all(mp4test::scratchDirectory(), ignored);
    VideoFileWriter writer;
    if (!writer.open(argv[1], VideoFileWriterConfig{width, height})) return 3;
    for (int i = 0; i < frames; ++i) {
        const auto frame = mp4test::syntheticFrame(width, height, uint32_t(i));
        if (!writer.writeFrame(frame.data(), frame.size(), int64_t(i) * 333'333)) return 4;
        if (mode == "paced") std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (mode == "paced") return writer.finalize() ? 0 : 5;
    if (mode == "exit") _exit(0);
    if (mode == "kill") raise(SIGKILL);
    return mode == "destroy" ? 0 : 2;
}
