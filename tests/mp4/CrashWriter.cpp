// Child process of the crash test: records synthetic 64x48 frames at 30 fps through VideoFileWriter.
// Usage: mp4_crash_writer FILE MODE FRAMES [FILE_SIZE_LIMIT], MODE one of
//   finalize  stop at the first refused frame, finalize, print "failure finalized stoppedEarly"
//   destroy   let the destructor end the recording (no finalize)
//   paced     1 ms between frames, for being killed from outside at any moment
//   sound     paced, with a tone on a sound track, a frame's worth before each frame
//   vanish    like finalize, but the file's descriptor stops taking writes after 70 frames
// With a limit the file layer gets EFBIG at that byte, as on a volume that is full (finalize, vanish);
// in the other modes the process dies (SIGXFSZ) inside the write that reaches it.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "Mp4TestSupport.h"
#include "VideoFileWriter.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string mode = argv[2];
    const int frames = std::atoi(argv[3]);
    if (argc > 4) {
        if (mode == "finalize" || mode == "vanish") std::signal(SIGXFSZ, SIG_IGN);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        const rlimit limit{rlim_t(std::atoll(argv[4])), RLIM_INFINITY};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    }
    VideoFileWriter writer;
    VideoFileWriterConfig config{64, 48, 4'000'000, 333'333};
    config.audio = mode == "sound";
    if (!writer.open(argv[1], config) || writer.hasAudio() != config.audio) return 3;
    int accepted = 0;
    for (; accepted < frames; ++accepted) {
        const auto frame = mp4test::syntheticFrame(64, 48, uint32_t(accepted));
        if (!writer.writeFrame(frame.data(), frame.size(), int64_t(accepted) * 333'333)) break;
        if (config.audio) {
            const auto tone = mp4test::stereoTone(accepted * 1600, 1600, 440, 8'000);
            // Faster than real time the sound encoder falls behind: wait for room in its queue.
            while (!writer.writeAudio(tone.data(), 1600, int64_t(accepted) * 1600 * 10'000'000 / 48'000) &&
                   writer.failure() == WriterFailure::None)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (mode == "paced" || config.audio) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (mode == "vanish" && accepted == 70) {
            // As when the drive goes away: the open file turns into one that refuses writes (EBADF).
            for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
                std::error_code ignored;
                if (std::filesystem::read_symlink(fd.path(), ignored) == std::filesystem::canonical(argv[1]))
                    dup2(open("/dev/null", O_RDONLY), std::stoi(fd.path().filename()));
            }
        }
    }
    if (mode == "destroy") return 0;
    const WriterFailure before = writer.failure();
    const bool finalized = writer.finalize();
    // A failure seen while recording must stay the one reported.
    if (before != WriterFailure::None && writer.failure() != before) return 4;
    std::printf("%d %d %d\n", int(writer.failure()), finalized ? 1 : 0, accepted < frames ? 1 : 0);
    return 0;
}
