#include "Mp4Boxes.h"

#include <algorithm>
#include <limits>

#include "ByteWriter.h"

namespace zv::mp4 {
namespace {

constexpr uint32_t kMax32 = std::numeric_limits<uint32_t>::max();

// Trun sample flags: a key frame depends on nothing; others depend on earlier frames and are not sync.
constexpr uint32_t kKeySampleFlags = 0x0200'0000;
constexpr uint32_t kDeltaSampleFlags = 0x0101'0000;

void writeMatrix(ByteWriter& w) {
    const uint32_t identity[9] = {0x0001'0000, 0, 0, 0, 0x0001'0000, 0, 0, 0, 0x4000'0000};
    for (uint32_t v : identity) w.u32(v);
}

// Version 1 of mvhd/tkhd/mdhd carries 64-bit times; only used when a value needs it.
void writeTimes(ByteWriter& w, bool wide, uint64_t creation, uint64_t duration, uint32_t timescaleOrTrackId,
                bool timescaleFirst) {
    if (wide) {
        w.u64(creation);
        w.u64(creation);
    } else {
        w.u32(uint32_t(creation));
        w.u32(uint32_t(creation));
    }
    w.u32(timescaleOrTrackId);
    if (!timescaleFirst) w.u32(0);  // tkhd: reserved between track id and duration
    if (wide)
        w.u64(duration);
    else
        w.u32(uint32_t(duration));
}

bool needsWide(uint64_t creation, uint64_t duration) { return creation > kMax32 || duration > kMax32; }

void writeMvhd(ByteWriter& w, uint64_t creation, uint64_t duration, uint32_t nextTrackId) {
    const bool wide = needsWide(creation, duration);
    const size_t box = w.beginFullBox("mvhd", wide ? 1 : 0, 0);
    writeTimes(w, wide, creation, duration, kTimescale, true);
    w.u32(0x0001'0000);  // rate 1.0
    w.u16(0x0100);       // volume 1.0
    w.zeros(10);
    writeMatrix(w);
    w.zeros(24);
    w.u32(nextTrackId);
    w.endBox(box);
}

// width and height 0 for sound, which gets full volume instead.
void writeTkhd(ByteWriter& w, uint32_t trackId, uint64_t creation, uint64_t duration, int width, int height) {
    const bool wide = needsWide(creation, duration);
    const size_t box = w.beginFullBox("tkhd", wide ? 1 : 0, 0x000003);  // enabled, in movie
    writeTimes(w, wide, creation, duration, trackId, false);
    w.zeros(8);
    w.u16(0);  // layer
    w.u16(0);  // alternate group
    w.u16(width == 0 ? 0x0100 : 0);  // volume
    w.u16(0);
    writeMatrix(w);
    w.u32(uint32_t(width) << 16);
    w.u32(uint32_t(height) << 16);
    w.endBox(box);
}

// Hides the encoder's priming at the start of the sound and, when known, its padding at the end.
// Readers take the priming for the sample count to skip only in a track counting in its sample rate.
void writeEdts(ByteWriter& w, uint64_t presentedTicks, uint64_t mediaStart) {
    const bool wide = presentedTicks > kMax32 || mediaStart > 0x7FFF'FFFF;
    const size_t edts = w.beginBox("edts");
    const size_t elst = w.beginFullBox("elst", wide ? 1 : 0, 0);
    w.u32(1);
    if (wide) {
        w.u64(presentedTicks);
        w.u64(mediaStart);
    } else {
        w.u32(uint32_t(presentedTicks));
        w.u32(uint32_t(mediaStart));
    }
    w.u32(0x0001'0000);  // rate 1.0
    w.endBox(elst);
    w.endBox(edts);
}

void writeMdhd(ByteWriter& w, uint64_t creation, uint64_t duration, uint32_t timescale) {
    const bool wide = needsWide(creation, duration);
    const size_t box = w.beginFullBox("mdhd", wide ? 1 : 0, 0);
    writeTimes(w, wide, creation, duration, timescale, true);
    w.u16(0x55C4);  // language "und"
    w.u16(0);
    w.endBox(box);
}

void writeHdlr(ByteWriter& w, bool sound) {
    const size_t box = w.beginFullBox("hdlr", 0, 0);
    w.u32(0);
    w.fourcc(sound ? "soun" : "vide");
    w.zeros(12);
    const char* name = sound ? "SoundHandler" : "VideoHandler";
    w.bytes(reinterpret_cast<const uint8_t*>(name), 13);  // with its terminating zero
    w.endBox(box);
}

void writeAvcC(ByteWriter& w, const Mp4VideoTrack& track) {
    const size_t box = w.beginBox("avcC");
    w.u8(1);
    w.u8(track.sps[1]);  // profile_idc
    w.u8(track.sps[2]);  // constraint flags
    w.u8(track.sps[3]);  // level_idc
    w.u8(0xFF);          // 4-byte NAL lengths
    w.u8(0xE1);          // one SPS
    w.u16(uint16_t(track.sps.size()));
    w.bytes(track.sps);
    w.u8(1);
    w.u16(uint16_t(track.pps.size()));
    w.bytes(track.pps);
    const uint8_t profile = track.sps[1];
    if (profile == 100 || profile == 110 || profile == 122 || profile == 144) {
        // High profiles carry the chroma format and bit depths; we only ever produce 4:2:0 8-bit.
        w.u8(0xFC | 1);
        w.u8(0xF8);
        w.u8(0xF8);
        w.u8(0);
    }
    w.endBox(box);
}

// An MPEG-4 descriptor: tag, then its length in one byte (all of ours stay below 128).
size_t beginDescriptor(ByteWriter& w, uint8_t tag) {
    w.u8(tag);
    w.u8(0);
    return w.size();
}
void endDescriptor(ByteWriter& w, size_t contentStart) { w.data()[contentStart - 1] = uint8_t(w.size() - contentStart); }

void writeAudioStsd(ByteWriter& w, const Mp4AudioTrack& track) {
    const size_t box = w.beginFullBox("stsd", 0, 0);
    w.u32(1);
    const size_t mp4a = w.beginBox("mp4a");
    w.zeros(6);
    w.u16(1);  // data reference index
    w.zeros(8);
    w.u16(track.channels);
    w.u16(16);  // sample size
    w.zeros(4);
    w.u32(track.sampleRate << 16);
    const size_t esds = w.beginFullBox("esds", 0, 0);
    const size_t es = beginDescriptor(w, 0x03);
    w.u16(0);  // ES id
    w.u8(0);   // no dependencies, URL or OCR stream
    const size_t decoderConfig = beginDescriptor(w, 0x04);
    w.u8(0x40);            // object type: MPEG-4 audio
    w.u8(0x05 << 2 | 1);   // stream type: audio
    w.u24(6144 * track.channels / 8);  // decoder buffer: AAC's largest frame per channel
    w.u32(track.bitrate);  // maximum
    w.u32(track.bitrate);  // average
    const size_t specific = beginDescriptor(w, 0x05);
    w.bytes(track.decoderConfig);
    endDescriptor(w, specific);
    endDescriptor(w, decoderConfig);
    const size_t sl = beginDescriptor(w, 0x06);
    w.u8(0x02);  // predefined for MP4 files
    endDescriptor(w, sl);
    endDescriptor(w, es);
    w.endBox(esds);
    w.endBox(mp4a);
    w.endBox(box);
}

void writeStsd(ByteWriter& w, const Mp4VideoTrack& track) {
    const size_t box = w.beginFullBox("stsd", 0, 0);
    w.u32(1);
    const size_t avc1 = w.beginBox("avc1");
    w.zeros(6);
    w.u16(1);  // data reference index
    w.zeros(16);
    w.u16(uint16_t(track.width));
    w.u16(uint16_t(track.height));
    w.u32(0x0048'0000);  // 72 dpi
    w.u32(0x0048'0000);
    w.u32(0);
    w.u16(1);       // frames per sample
    w.zeros(32);    // compressor name
    w.u16(0x0018);  // depth
    w.u16(0xFFFF);
    writeAvcC(w, track);
    w.endBox(avc1);
    w.endBox(box);
}

void writeStts(ByteWriter& w, const Mp4SampleTable& table) {
    const size_t box = w.beginFullBox("stts", 0, 0);
    const size_t countAt = w.size();
    w.u32(0);
    uint32_t runs = 0;
    const auto& s = table.samples;
    for (size_t i = 0; i < s.size();) {
        size_t end = i + 1;
        while (end < s.size() && s[end].duration == s[i].duration) ++end;
        w.u32(uint32_t(end - i));
        w.u32(s[i].duration);
        ++runs;
        i = end;
    }
    w.patchU32(countAt, runs);
    w.endBox(box);
}

void writeStss(ByteWriter& w, const Mp4SampleTable& table) {
    const size_t box = w.beginFullBox("stss", 0, 0);
    const size_t countAt = w.size();
    w.u32(0);
    uint32_t count = 0;
    for (size_t i = 0; i < table.samples.size(); ++i) {
        if (!table.samples[i].keyFrame) continue;
        w.u32(uint32_t(i + 1));
        ++count;
    }
    w.patchU32(countAt, count);
    w.endBox(box);
}

void writeStsc(ByteWriter& w, const Mp4SampleTable& table) {
    const size_t box = w.beginFullBox("stsc", 0, 0);
    const size_t countAt = w.size();
    w.u32(0);
    uint32_t runs = 0;
    uint32_t previousCount = 0;
    for (size_t i = 0; i < table.chunks.size(); ++i) {
        if (i > 0 && table.chunks[i].sampleCount == previousCount) continue;
        previousCount = table.chunks[i].sampleCount;
        w.u32(uint32_t(i + 1));
        w.u32(previousCount);
        w.u32(1);  // sample description index
        ++runs;
    }
    w.patchU32(countAt, runs);
    w.endBox(box);
}

void writeStsz(ByteWriter& w, const Mp4SampleTable& table) {
    const size_t box = w.beginFullBox("stsz", 0, 0);
    w.u32(0);  // sizes differ: one entry per sample
    w.u32(uint32_t(table.samples.size()));
    for (const Mp4Sample& s : table.samples) w.u32(s.size);
    w.endBox(box);
}

void writeChunkOffsets(ByteWriter& w, const Mp4SampleTable& table) {
    bool wide = false;
    for (const Mp4Chunk& c : table.chunks) wide = wide || c.offset > kMax32;
    const size_t box = w.beginFullBox(wide ? "co64" : "stco", 0, 0);
    w.u32(uint32_t(table.chunks.size()));
    for (const Mp4Chunk& c : table.chunks) {
        if (wide)
            w.u64(c.offset);
        else
            w.u32(uint32_t(c.offset));
    }
    w.endBox(box);
}

// How long the sound plays after its edit list: the samples less the priming, cut to the length when known.
uint64_t presentedTicks(const Mp4AudioTrack& track, const Mp4SampleTable& table) {
    uint64_t frames = std::max<uint64_t>(totalDuration(table), track.primingFrames) - track.primingFrames;
    if (track.lengthFrames > 0) frames = std::min(frames, track.lengthFrames);
    return ticksAtFrame(frames, track.sampleRate);
}

// One of video or audio is given: the track this trak describes.
void writeTrak(ByteWriter& w, uint64_t creation, const Mp4VideoTrack* video, const Mp4AudioTrack* audio,
               const Mp4SampleTable& table, bool fragmented) {
    const uint64_t duration = totalDuration(table);
    const size_t trak = w.beginBox("trak");
    if (video) {
        writeTkhd(w, kVideoTrackId, creation, duration, video->width, video->height);
    } else {
        const uint64_t presented = fragmented ? 0 : presentedTicks(*audio, table);
        writeTkhd(w, kAudioTrackId, creation, presented, 0, 0);
        if (audio->primingFrames > 0) writeEdts(w, presented, audio->primingFrames);
    }
    const size_t mdia = w.beginBox("mdia");
    writeMdhd(w, creation, duration, video ? kTimescale : audio->sampleRate);
    writeHdlr(w, audio != nullptr);
    const size_t minf = w.beginBox("minf");
    if (video) {
        const size_t vmhd = w.beginFullBox("vmhd", 0, 1);
        w.zeros(8);
        w.endBox(vmhd);
    } else {
        const size_t smhd = w.beginFullBox("smhd", 0, 0);
        w.zeros(4);  // balance, reserved
        w.endBox(smhd);
    }
    const size_t dinf = w.beginBox("dinf");
    const size_t dref = w.beginFullBox("dref", 0, 0);
    w.u32(1);
    w.endBox(w.beginFullBox("url ", 0, 1));  // media is in this file
    w.endBox(dref);
    w.endBox(dinf);
    const size_t stbl = w.beginBox("stbl");
    if (video)
        writeStsd(w, *video);
    else
        writeAudioStsd(w, *audio);
    writeStts(w, table);
    if (video && !fragmented) writeStss(w, table);  // sound: every sample is a sync sample
    writeStsc(w, table);
    writeStsz(w, table);
    writeChunkOffsets(w, table);
    w.endBox(stbl);
    w.endBox(minf);
    w.endBox(mdia);
    w.endBox(trak);
}

void writeMoov(ByteWriter& w, const Mp4VideoTrack& video, const Mp4SampleTable& videoTable, const Mp4AudioTrack* audio,
               const Mp4SampleTable& audioTable, bool fragmented) {
    const size_t moov = w.beginBox("moov");
    uint64_t duration = totalDuration(videoTable);
    if (audio && !fragmented) duration = std::max(duration, presentedTicks(*audio, audioTable));
    writeMvhd(w, video.creationTime, duration, audio ? kAudioTrackId + 1 : kVideoTrackId + 1);
    writeTrak(w, video.creationTime, &video, nullptr, videoTable, fragmented);
    if (audio) writeTrak(w, video.creationTime, nullptr, audio, audioTable, fragmented);
    if (fragmented) {
        const size_t mvex = w.beginBox("mvex");
        for (uint32_t id = kVideoTrackId; id <= (audio ? kAudioTrackId : kVideoTrackId); ++id) {
            const size_t trex = w.beginFullBox("trex", 0, 0);
            w.u32(id);
            w.u32(1);  // sample description index
            w.u32(0);
            w.u32(0);
            w.u32(0);
            w.endBox(trex);
        }
        w.endBox(mvex);
    }
    w.endBox(moov);
}

uint64_t payloadBytes(std::span<const Mp4TrackRun> runs) {
    uint64_t payload = 0;
    for (const Mp4TrackRun& run : runs)
        for (const Mp4Sample& s : run.samples) payload += s.size;
    return payload;
}

uint32_t mdatHeaderSize(uint64_t payloadBytes) { return payloadBytes + 8 > kMax32 ? 16 : 8; }

}  // namespace

bool isValidTrack(const Mp4AudioTrack& track) {
    return !track.decoderConfig.empty() && track.decoderConfig.size() < 100 && track.sampleRate > 0 &&
           track.sampleRate <= 0xFFFF && track.channels > 0 && track.channels <= 8;
}

uint64_t ticksAtFrame(uint64_t frame, uint32_t sampleRate) { return (frame * kTimescale + sampleRate / 2) / sampleRate; }

bool isValidTrack(const Mp4VideoTrack& track) {
    return track.width > 0 && track.height > 0 && track.lastSampleDuration100ns > 0 && track.width <= 0xFFFF && track.height <= 0xFFFF &&
           track.sps.size() >= 4 && track.sps.size() <= 0xFFFF && !track.pps.empty() && track.pps.size() <= 0xFFFF;
}

uint64_t totalDuration(const Mp4SampleTable& table) {
    uint64_t sum = 0;
    for (const Mp4Sample& s : table.samples) sum += s.duration;
    return sum;
}

Mp4FileStart buildFileStart(const Mp4VideoTrack& video, const Mp4AudioTrack* audio) {
    ByteWriter w;
    const size_t ftyp = w.beginBox("ftyp");
    w.fourcc("isom");
    w.u32(0x200);
    w.fourcc("isom");
    w.fourcc("iso2");
    w.fourcc("iso5");
    w.fourcc("avc1");
    w.fourcc("mp41");
    w.endBox(ftyp);
    Mp4FileStart start;
    start.wrapOffset = w.size();
    w.endBox(w.beginBox("free"));
    writeMoov(w, video, Mp4SampleTable{}, audio, Mp4SampleTable{}, true);
    start.bytes = w.take();
    return start;
}

uint64_t fragmentPayloadOffset(std::span<const Mp4TrackRun> runs) {
    // moof: header 8, mfhd 16; per track: traf header 8, tfhd 16, tfdt 20, trun 20 + 12 per sample.
    uint64_t moof = 8 + 16;
    for (const Mp4TrackRun& run : runs)
        if (!run.samples.empty()) moof += 8 + 16 + 20 + 20 + 12 * uint64_t(run.samples.size());
    return moof + mdatHeaderSize(payloadBytes(runs));
}

std::vector<uint8_t> buildFragmentHeader(uint32_t sequenceNumber, std::span<const Mp4TrackRun> runs) {
    const uint64_t payload = payloadBytes(runs);
    uint64_t dataOffset = fragmentPayloadOffset(runs);
    ByteWriter w;
    const size_t moof = w.beginBox("moof");
    const size_t mfhd = w.beginFullBox("mfhd", 0, 0);
    w.u32(sequenceNumber);
    w.endBox(mfhd);
    for (const Mp4TrackRun& run : runs) {
        if (run.samples.empty()) continue;
        const size_t traf = w.beginBox("traf");
        const size_t tfhd = w.beginFullBox("tfhd", 0, 0x020000);  // offsets count from the moof
        w.u32(run.trackId);
        w.endBox(tfhd);
        const size_t tfdt = w.beginFullBox("tfdt", 1, 0);
        w.u64(run.baseDecodeTime);
        w.endBox(tfdt);
        const size_t trun = w.beginFullBox("trun", 0, 0x000701);  // data offset; duration, size, flags per sample
        w.u32(uint32_t(run.samples.size()));
        w.u32(uint32_t(dataOffset));
        for (const Mp4Sample& s : run.samples) {
            w.u32(s.duration);
            w.u32(s.size);
            w.u32(s.keyFrame ? kKeySampleFlags : kDeltaSampleFlags);
            dataOffset += s.size;
        }
        w.endBox(trun);
        w.endBox(traf);
    }
    w.endBox(moof);
    if (mdatHeaderSize(payload) == 16) {
        w.u32(1);
        w.fourcc("mdat");
        w.u64(payload + 16);
    } else {
        w.u32(uint32_t(payload + 8));
        w.fourcc("mdat");
    }
    return w.take();
}

std::vector<uint8_t> buildFinalMoov(const Mp4VideoTrack& video, const Mp4SampleTable& videoTable,
                                    const Mp4AudioTrack* audio, const Mp4SampleTable* audioTable) {
    ByteWriter w;
    writeMoov(w, video, videoTable, audio, audioTable ? *audioTable : Mp4SampleTable{}, false);
    return w.take();
}

std::vector<uint8_t> buildWrappingMdatHeader(uint64_t spanBytes) {
    ByteWriter w;
    if (spanBytes > kMax32) {
        w.u32(1);
        w.fourcc("mdat");
        w.u64(spanBytes);
    } else {
        w.u32(uint32_t(spanBytes));
        w.fourcc("mdat");
    }
    return w.take();
}

}  // namespace zv::mp4
