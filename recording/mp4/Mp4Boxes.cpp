#include "Mp4Boxes.h"

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

void writeMvhd(ByteWriter& w, uint64_t creation, uint64_t duration) {
    const bool wide = needsWide(creation, duration);
    const size_t box = w.beginFullBox("mvhd", wide ? 1 : 0, 0);
    writeTimes(w, wide, creation, duration, kTimescale, true);
    w.u32(0x0001'0000);  // rate 1.0
    w.u16(0x0100);       // volume 1.0
    w.zeros(10);
    writeMatrix(w);
    w.zeros(24);
    w.u32(kTrackId + 1);
    w.endBox(box);
}

void writeTkhd(ByteWriter& w, const Mp4VideoTrack& track, uint64_t duration) {
    const bool wide = needsWide(track.creationTime, duration);
    const size_t box = w.beginFullBox("tkhd", wide ? 1 : 0, 0x000003);  // enabled, in movie
    writeTimes(w, wide, track.creationTime, duration, kTrackId, false);
    w.zeros(8);
    w.u16(0);  // layer
    w.u16(0);  // alternate group
    w.u16(0);  // volume: video
    w.u16(0);
    writeMatrix(w);
    w.u32(uint32_t(track.width) << 16);
    w.u32(uint32_t(track.height) << 16);
    w.endBox(box);
}

void writeMdhd(ByteWriter& w, uint64_t creation, uint64_t duration) {
    const bool wide = needsWide(creation, duration);
    const size_t box = w.beginFullBox("mdhd", wide ? 1 : 0, 0);
    writeTimes(w, wide, creation, duration, kTimescale, true);
    w.u16(0x55C4);  // language "und"
    w.u16(0);
    w.endBox(box);
}

void writeHdlr(ByteWriter& w) {
    const size_t box = w.beginFullBox("hdlr", 0, 0);
    w.u32(0);
    w.fourcc("vide");
    w.zeros(12);
    const char name[] = "VideoHandler";
    w.bytes(reinterpret_cast<const uint8_t*>(name), sizeof name);  // with its terminating zero
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

void writeTrak(ByteWriter& w, const Mp4VideoTrack& track, const Mp4SampleTable& table, bool withSyncTable) {
    const uint64_t duration = totalDuration(table);
    const size_t trak = w.beginBox("trak");
    writeTkhd(w, track, duration);
    const size_t mdia = w.beginBox("mdia");
    writeMdhd(w, track.creationTime, duration);
    writeHdlr(w);
    const size_t minf = w.beginBox("minf");
    const size_t vmhd = w.beginFullBox("vmhd", 0, 1);
    w.zeros(8);
    w.endBox(vmhd);
    const size_t dinf = w.beginBox("dinf");
    const size_t dref = w.beginFullBox("dref", 0, 0);
    w.u32(1);
    w.endBox(w.beginFullBox("url ", 0, 1));  // media is in this file
    w.endBox(dref);
    w.endBox(dinf);
    const size_t stbl = w.beginBox("stbl");
    writeStsd(w, track);
    writeStts(w, table);
    if (withSyncTable) writeStss(w, table);
    writeStsc(w, table);
    writeStsz(w, table);
    writeChunkOffsets(w, table);
    w.endBox(stbl);
    w.endBox(minf);
    w.endBox(mdia);
    w.endBox(trak);
}

void writeMoov(ByteWriter& w, const Mp4VideoTrack& track, const Mp4SampleTable& table, bool fragmented) {
    const size_t moov = w.beginBox("moov");
    writeMvhd(w, track.creationTime, totalDuration(table));
    writeTrak(w, track, table, !fragmented);
    if (fragmented) {
        const size_t mvex = w.beginBox("mvex");
        const size_t trex = w.beginFullBox("trex", 0, 0);
        w.u32(kTrackId);
        w.u32(1);  // sample description index
        w.u32(0);
        w.u32(0);
        w.u32(0);
        w.endBox(trex);
        w.endBox(mvex);
    }
    w.endBox(moov);
}

uint32_t mdatHeaderSize(uint64_t payloadBytes) { return payloadBytes + 8 > kMax32 ? 16 : 8; }

}  // namespace

bool isValidTrack(const Mp4VideoTrack& track) {
    return track.width > 0 && track.height > 0 && track.lastSampleDuration100ns > 0 && track.width <= 0xFFFF && track.height <= 0xFFFF &&
           track.sps.size() >= 4 && track.sps.size() <= 0xFFFF && !track.pps.empty() && track.pps.size() <= 0xFFFF;
}

uint64_t totalDuration(const Mp4SampleTable& table) {
    uint64_t sum = 0;
    for (const Mp4Sample& s : table.samples) sum += s.duration;
    return sum;
}

Mp4FileStart buildFileStart(const Mp4VideoTrack& track) {
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
    writeMoov(w, track, Mp4SampleTable{}, true);
    start.bytes = w.take();
    return start;
}

uint64_t fragmentPayloadOffset(std::span<const Mp4Sample> samples) {
    uint64_t payload = 0;
    for (const Mp4Sample& s : samples) payload += s.size;
    // moof: mfhd 16, traf header 8, tfhd 16, tfdt 20, trun 20 + 12 per sample.
    const uint64_t moof = 8 + 16 + 8 + 16 + 20 + 20 + 12 * uint64_t(samples.size());
    return moof + mdatHeaderSize(payload);
}

std::vector<uint8_t> buildFragmentHeader(uint32_t sequenceNumber, uint64_t baseDecodeTime,
                                         std::span<const Mp4Sample> samples) {
    uint64_t payload = 0;
    for (const Mp4Sample& s : samples) payload += s.size;
    ByteWriter w;
    const size_t moof = w.beginBox("moof");
    const size_t mfhd = w.beginFullBox("mfhd", 0, 0);
    w.u32(sequenceNumber);
    w.endBox(mfhd);
    const size_t traf = w.beginBox("traf");
    const size_t tfhd = w.beginFullBox("tfhd", 0, 0x020000);  // offsets count from the moof
    w.u32(kTrackId);
    w.endBox(tfhd);
    const size_t tfdt = w.beginFullBox("tfdt", 1, 0);
    w.u64(baseDecodeTime);
    w.endBox(tfdt);
    const size_t trun = w.beginFullBox("trun", 0, 0x000701);  // data offset; duration, size, flags per sample
    w.u32(uint32_t(samples.size()));
    w.u32(uint32_t(fragmentPayloadOffset(samples)));
    for (const Mp4Sample& s : samples) {
        w.u32(s.duration);
        w.u32(s.size);
        w.u32(s.keyFrame ? kKeySampleFlags : kDeltaSampleFlags);
    }
    w.endBox(trun);
    w.endBox(traf);
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

std::vector<uint8_t> buildFinalMoov(const Mp4VideoTrack& track, const Mp4SampleTable& table) {
    ByteWriter w;
    writeMoov(w, track, table, false);
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
