#include "Mp4Muxer.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zv::mp4 {
namespace {

constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();
// The longest one sample may last (about 6.6 hours). Some readers (ffmpeg among them) take a step
// as a signed 32-bit number and show the frame after a longer one almost at once.
constexpr uint64_t kLongestSampleTicks = 0x7FFF'FFFF;
constexpr uint64_t kAll = std::numeric_limits<uint64_t>::max();  // a fragment end that takes all pending sound

uint64_t ticksFrom100ns(int64_t duration100ns) {
    return (uint64_t(duration100ns) * kTimescale / 1000 + 5'000) / 10'000;
}

}  // namespace

Mp4Muxer::~Mp4Muxer() { close(); }

bool Mp4Muxer::open(const std::filesystem::path& path, const Mp4VideoTrack& track, const Mp4AudioTrack* audio,
                    Mp4FragmentLimits limits) {
    close();
    track_ = track;
    limits_ = limits;
    table_ = {};
    wrapOffset_ = finalMoovOffset_ = committedEnd_ = 0;
    nextSequence_ = 1;
    pending_.clear();
    pendingBytes_.clear();
    pendingStartTicks_ = lastTicks_ = skippedTicks_ = 0;
    hasSamples_ = indexWritten_ = false;
    firstTime100ns_ = lastTime100ns_ = 0;
    hasAudio_ = audio != nullptr;
    audio_ = audio ? *audio : Mp4AudioTrack{};
    audioTable_ = {};
    audioPending_.clear();
    audioPendingBytes_.clear();
    audioFrames_ = 0;
    audioEnded_ = false;
    if (!isValidTrack(track) || (audio && !isValidTrack(*audio))) return false;
    if (!file_.open(path)) return false;
    const Mp4FileStart start = buildFileStart(track_, hasAudio_ ? &audio_ : nullptr);
    wrapOffset_ = start.wrapOffset;
    if (!file_.append(start.bytes.data(), start.bytes.size()) || !file_.flush()) return false;
    committedEnd_ = file_.size();
    return true;
}

uint64_t Mp4Muxer::audioShownTicks(uint64_t frame) const {
    // Before the priming is over nothing is shown; compare as if at 0.
    return frame <= audio_.primingFrames ? 0 : ticksAtFrame(frame - audio_.primingFrames, audio_.sampleRate);
}

uint64_t Mp4Muxer::ticksFor(int64_t time100ns) {
    if (!hasSamples_) return 0;
    uint64_t ticks = ticksFrom100ns(time100ns - firstTime100ns_) - skippedTicks_;
    // Stamps closer than one tick still get distinct times.
    if (ticks <= lastTicks_) ticks = lastTicks_ + 1;
    if (ticks - lastTicks_ > kLongestSampleTicks) {
        // A gap longer than one sample can last: the timeline after it moves earlier by the excess.
        skippedTicks_ += ticks - lastTicks_ - kLongestSampleTicks;
        ticks = lastTicks_ + kLongestSampleTicks;
    }
    return ticks;
}

bool Mp4Muxer::writeSample(const uint8_t* sample, size_t size, int64_t time100ns, bool keyFrame) {
    if (!file_.isOpen() || file_.failed() || indexWritten_) return false;
    if (!sample || size == 0 || size > kMax32) return false;
    if (hasSamples_ && time100ns <= lastTime100ns_) return false;

    const uint64_t ticks = ticksFor(time100ns);
    if (hasSamples_) {
        pending_.back().duration = uint32_t(ticks - lastTicks_);
        const uint64_t elapsed = ticks - pendingStartTicks_;
        const bool full = pendingBytes_.size() + audioPendingBytes_.size() + size > limits_.maximumBytes;
        const bool soundThere = !hasAudio_ || audioEnded_ || audioShownTicks(audioFrames_) >= ticks;
        const bool cut = full || (soundThere && ((keyFrame && elapsed >= ticksFrom100ns(limits_.preferred100ns)) ||
                                                 elapsed >= ticksFrom100ns(limits_.maximum100ns)));
        if (cut && !writeFragment(ticks)) return false;
        // The encoder hands over sound later than the picture it goes with, so in a steady recording
        // the sound may never reach the newest frame, and waiting for it would hold every sample back
        // and leave nothing complete on disk. Past the time limit the fragment ends earlier instead,
        // with the last frame the sound covers; the frames after it wait for the next fragment.
        if (!cut && !soundThere && elapsed >= ticksFrom100ns(limits_.maximum100ns)) {
            const uint64_t soundEnd = audioShownTicks(audioFrames_);
            size_t covered = 0;
            uint64_t end = pendingStartTicks_;
            while (covered < pending_.size() && end + pending_[covered].duration <= soundEnd) end += pending_[covered++].duration;
            if (covered > 0 && !writeFragment(end, covered)) return false;
        }
    } else {
        firstTime100ns_ = time100ns;
        hasSamples_ = true;
    }
    if (pending_.empty()) pendingStartTicks_ = ticks;
    pending_.push_back(Mp4Sample{uint32_t(size), 0, keyFrame});
    pendingBytes_.insert(pendingBytes_.end(), sample, sample + size);
    lastTicks_ = ticks;
    lastTime100ns_ = time100ns;
    return true;
}

bool Mp4Muxer::writeAudioSample(const uint8_t* sample, size_t size, uint32_t frames) {
    if (!hasAudio_ || !file_.isOpen() || file_.failed() || indexWritten_) return false;
    if (!sample || size == 0 || size > kMax32 || frames == 0) return false;
    audioPending_.push_back(Mp4Sample{uint32_t(size), frames, true});
    audioPendingBytes_.insert(audioPendingBytes_.end(), sample, sample + size);
    audioFrames_ += frames;
    return true;
}

bool Mp4Muxer::writeFragment(uint64_t untilTicks, size_t videoCount) {
    videoCount = std::min(videoCount, pending_.size());
    uint64_t videoBytes = 0;
    uint64_t videoTicks = 0;
    for (size_t i = 0; i < videoCount; ++i) {
        videoBytes += pending_[i].size;
        videoTicks += pending_[i].duration;
    }
    size_t audioCount = 0;
    uint64_t audioBytes = 0;
    uint64_t audioPendingFrames = 0;
    for (const Mp4Sample& s : audioPending_) audioPendingFrames += s.duration;
    for (uint64_t start = audioFrames_ - audioPendingFrames; audioCount < audioPending_.size() && audioShownTicks(start) < untilTicks;
         ++audioCount) {
        start += audioPending_[audioCount].duration;
        audioBytes += audioPending_[audioCount].size;
    }
    if (videoCount == 0 && audioCount == 0) return !file_.failed();
    const Mp4TrackRun runs[] = {
        {kVideoTrackId, pendingStartTicks_, std::span(pending_.data(), videoCount)},
        {kAudioTrackId, audioFrames_ - audioPendingFrames, std::span(audioPending_.data(), audioCount)},
    };
    std::vector<uint8_t> header = buildFragmentHeader(nextSequence_, runs);
    const uint64_t moofOffset = file_.size();
    const uint64_t payloadOffset = moofOffset + fragmentPayloadOffset(runs);
    // A reader that finds a moof cut short by a crash rejects the whole file, so the fragment goes
    // down disguised as 'free' and becomes a moof in one 4-byte write once all of it is on disk.
    std::memcpy(header.data() + 4, "free", 4);
    if (!file_.append(header.data(), header.size()) || !file_.append(pendingBytes_.data(), videoBytes) ||
        !file_.append(audioPendingBytes_.data(), audioBytes) || !file_.flush() ||
        !file_.overwrite(moofOffset + 4, "moof", 4) || !file_.flush())
        return false;
    ++nextSequence_;
    committedEnd_ = file_.size();
    if (videoCount > 0) {
        table_.chunks.push_back(Mp4Chunk{payloadOffset, uint32_t(videoCount)});
        table_.samples.insert(table_.samples.end(), pending_.begin(), pending_.begin() + videoCount);
    }
    if (audioCount > 0) {
        audioTable_.chunks.push_back(Mp4Chunk{payloadOffset + videoBytes, uint32_t(audioCount)});
        audioTable_.samples.insert(audioTable_.samples.end(), audioPending_.begin(), audioPending_.begin() + audioCount);
        audioPending_.erase(audioPending_.begin(), audioPending_.begin() + audioCount);
        audioPendingBytes_.erase(audioPendingBytes_.begin(), audioPendingBytes_.begin() + audioBytes);
    }
    pending_.erase(pending_.begin(), pending_.begin() + videoCount);
    pendingBytes_.erase(pendingBytes_.begin(), pendingBytes_.begin() + videoBytes);
    pendingStartTicks_ += videoTicks;
    return true;
}

bool Mp4Muxer::closeFragmentAt(uint64_t nextTicks) {
    if (!pending_.empty()) pending_.back().duration = uint32_t(nextTicks - lastTicks_);
    return writeFragment(kAll);
}

bool Mp4Muxer::writeFinalIndex() {
    if (!file_.isOpen() || file_.failed() || indexWritten_) return false;
    if (!closeFragmentAt(lastTicks_ + ticksFrom100ns(track_.lastSampleDuration100ns))) return false;
    // Written as 'free' for the same reason as the fragments. Once it is a moov, and until
    // commitFinalIndex, readers still take the first moov and the fragments and skip this one.
    finalMoovOffset_ = file_.size();
    std::vector<uint8_t> moov = buildFinalMoov(track_, table_, hasAudio_ ? &audio_ : nullptr, &audioTable_);
    std::memcpy(moov.data() + 4, "free", 4);
    if (!file_.append(moov.data(), moov.size()) || !file_.flush() ||
        !file_.overwrite(finalMoovOffset_ + 4, "moov", 4) || !file_.flush())
        return false;
    indexWritten_ = true;
    return true;
}

bool Mp4Muxer::commitFinalIndex() {
    if (!file_.isOpen() || file_.failed() || !indexWritten_) return false;
    const std::vector<uint8_t> header = buildWrappingMdatHeader(finalMoovOffset_ - wrapOffset_);
    return file_.overwrite(wrapOffset_, header.data(), header.size()) && file_.flush();
}

bool Mp4Muxer::cutBackToLastFragment() {
    // The samples held back or caught in the failed write are lost; what remains must be exactly
    // what the index will describe.
    pending_.clear();
    pendingBytes_.clear();
    audioPending_.clear();
    audioPendingBytes_.clear();
    return committedEnd_ > 0 && file_.cutBackTo(committedEnd_);
}

bool Mp4Muxer::finalize() {
    if (!file_.isOpen()) return false;
    bool written = writeFinalIndex() && commitFinalIndex();
    // A full disk may still take the index once the half-written fragment is gone. Once the index
    // is typed as moov it is left alone: the file already plays as it is.
    if (!written && !indexWritten_ && cutBackToLastFragment()) written = writeFinalIndex() && commitFinalIndex();
    return close() && written && file_.error() == 0;
}

bool Mp4Muxer::close() {
    if (!file_.isOpen()) return !file_.failed();
    if (!indexWritten_) closeFragmentAt(lastTicks_ + ticksFrom100ns(track_.lastSampleDuration100ns));
    return file_.close();
}

}  // namespace zv::mp4
