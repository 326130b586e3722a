#include "BoxParser.h"

#include <fstream>
#include <iterator>
#include <set>

namespace mp4test {

uint16_t be16(const std::vector<uint8_t>& b, uint64_t at) { return uint16_t(b.at(at) << 8 | b.at(at + 1)); }
uint32_t be32(const std::vector<uint8_t>& b, uint64_t at) { return uint32_t(be16(b, at)) << 16 | be16(b, at + 2); }
uint64_t be64(const std::vector<uint8_t>& b, uint64_t at) { return uint64_t(be32(b, at)) << 32 | be32(b, at + 4); }

std::optional<std::vector<Box>> parseBoxes(const std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end) {
    std::vector<Box> boxes;
    uint64_t at = begin;
    while (at < end) {
        if (end - at < 8) return std::nullopt;
        Box box;
        box.offset = at;
        box.size = be32(bytes, at);
        box.type.assign(reinterpret_cast<const char*>(&bytes[at + 4]), 4);
        box.headerSize = 8;
        if (box.size == 1) {
            if (end - at < 16) return std::nullopt;
            box.size = be64(bytes, at + 8);
            box.headerSize = 16;
        } else if (box.size == 0) {
            box.size = end - at;
        }
        if (box.size < box.headerSize || box.size > end - at) return std::nullopt;
        boxes.push_back(box);
        at += box.size;
    }
    return boxes;
}

std::optional<std::vector<Box>> childrenOf(const std::vector<uint8_t>& bytes, const Box& box) {
    uint64_t skip = 0;
    if (box.type == "stsd" || box.type == "dref") skip = 8;  // version/flags + entry count
    if (box.type == "avc1") skip = 78;                       // visual sample entry fields
    if (box.payload() + skip > box.end()) return std::nullopt;
    return parseBoxes(bytes, box.payload() + skip, box.end());
}

std::optional<Box> findPath(const std::vector<uint8_t>& bytes, const Box& root, const std::vector<std::string>& path) {
    Box current = root;
    for (const std::string& type : path) {
        auto children = childrenOf(bytes, current);
        if (!children) return std::nullopt;
        bool found = false;
        for (const Box& child : *children) {
            if (child.type != type) continue;
            current = child;
            found = true;
            break;
        }
        if (!found) return std::nullopt;
    }
    return current;
}

std::optional<Box> findTop(const std::vector<uint8_t>& bytes, const std::string& type) {
    auto top = parseBoxes(bytes, 0, bytes.size());
    if (!top) return std::nullopt;
    for (const Box& box : *top)
        if (box.type == type) return box;
    return std::nullopt;
}

bool treeIsConsistent(const std::vector<uint8_t>& bytes, const Box& box) {
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "dinf", "stbl", "mvex",
                                                     "moof", "traf", "stsd", "avc1", "dref"};
    if (!containers.count(box.type)) return true;
    auto children = childrenOf(bytes, box);
    if (!children) return false;
    for (const Box& child : *children)
        if (!treeIsConsistent(bytes, child)) return false;
    return true;
}

FullBoxHeader fullBoxHeader(const std::vector<uint8_t>& bytes, const Box& box) {
    return FullBoxHeader{bytes.at(box.payload()), be32(bytes, box.payload()) & 0xFFFFFF};
}

uint64_t headerDuration(const std::vector<uint8_t>& bytes, const Box& box) {
    const bool wide = fullBoxHeader(bytes, box).version == 1;
    const uint64_t p = box.payload() + 4;
    if (box.type == "tkhd") return wide ? be64(bytes, p + 24) : be32(bytes, p + 16);
    return wide ? be64(bytes, p + 20) : be32(bytes, p + 12);  // mvhd, mdhd: after the timescale
}

namespace {

std::optional<Box> tableBox(const std::vector<uint8_t>& bytes, const Box& moov, const std::string& type) {
    return findPath(bytes, moov, {"trak", "mdia", "minf", "stbl", type});
}

}  // namespace

std::optional<zv::mp4::Mp4SampleTable> readSampleTable(const std::vector<uint8_t>& bytes, const Box& moov) {
    zv::mp4::Mp4SampleTable table;
    auto stsz = tableBox(bytes, moov, "stsz");
    auto stts = tableBox(bytes, moov, "stts");
    auto stsc = tableBox(bytes, moov, "stsc");
    auto stco = tableBox(bytes, moov, "stco");
    auto co64 = tableBox(bytes, moov, "co64");
    auto stss = tableBox(bytes, moov, "stss");
    if (!stsz || !stts || !stsc || (!stco == !co64)) return std::nullopt;

    // stsz
    uint64_t p = stsz->payload() + 4;
    const uint32_t constantSize = be32(bytes, p);
    const uint32_t count = be32(bytes, p + 4);
    if (stsz->size != stsz->headerSize + 12 + (constantSize ? 0 : 4ull * count)) return std::nullopt;
    table.samples.resize(count);
    for (uint32_t i = 0; i < count; ++i) table.samples[i].size = constantSize ? constantSize : be32(bytes, p + 8 + 4 * i);

    // stts
    p = stts->payload() + 4;
    const uint32_t runs = be32(bytes, p);
    if (stts->size != stts->headerSize + 8 + 8ull * runs) return std::nullopt;
    uint64_t sample = 0;
    for (uint32_t r = 0; r < runs; ++r) {
        const uint32_t n = be32(bytes, p + 4 + 8 * r), d = be32(bytes, p + 8 + 8 * r);
        if (n == 0 || sample + n > count) return std::nullopt;
        for (uint32_t i = 0; i < n; ++i) table.samples[sample++].duration = d;
    }
    if (sample != count) return std::nullopt;

    // stss: absent means every sample is a sync sample
    if (stss) {
        p = stss->payload() + 4;
        const uint32_t n = be32(bytes, p);
        if (stss->size != stss->headerSize + 8 + 4ull * n) return std::nullopt;
        uint32_t previous = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t number = be32(bytes, p + 4 + 4 * i);
            if (number <= previous || number > count) return std::nullopt;
            table.samples[number - 1].keyFrame = true;
            previous = number;
        }
    } else {
        for (auto& s : table.samples) s.keyFrame = true;
    }

    // stco / co64
    const Box offsets = stco ? *stco : *co64;
    const bool wide = !stco;
    p = offsets.payload() + 4;
    const uint32_t chunkCount = be32(bytes, p);
    if (offsets.size != offsets.headerSize + 8 + (wide ? 8ull : 4ull) * chunkCount) return std::nullopt;
    table.chunks.resize(chunkCount);
    for (uint32_t i = 0; i < chunkCount; ++i)
        table.chunks[i].offset = wide ? be64(bytes, p + 4 + 8 * i) : be32(bytes, p + 4 + 4 * i);

    // stsc: runs of samples-per-chunk, each starting at a first chunk number
    p = stsc->payload() + 4;
    const uint32_t entries = be32(bytes, p);
    if (stsc->size != stsc->headerSize + 8 + 12ull * entries) return std::nullopt;
    if (chunkCount > 0 && (entries == 0 || be32(bytes, p + 4) != 1)) return std::nullopt;
    uint64_t nextSample = 0;
    for (uint32_t e = 0; e < entries; ++e) {
        const uint32_t firstChunk = be32(bytes, p + 4 + 12 * e);
        const uint32_t perChunk = be32(bytes, p + 8 + 12 * e);
        const uint32_t lastChunk = e + 1 < entries ? be32(bytes, p + 4 + 12 * (e + 1)) - 1 : chunkCount;
        if (firstChunk == 0 || lastChunk < firstChunk || lastChunk > chunkCount) return std::nullopt;
        for (uint32_t c = firstChunk; c <= lastChunk; ++c) {
            table.chunks[c - 1].firstSample = uint32_t(nextSample);
            table.chunks[c - 1].sampleCount = perChunk;
            nextSample += perChunk;
        }
    }
    if (nextSample != count) return std::nullopt;
    return table;
}

std::optional<Fragment> readFragment(const std::vector<uint8_t>& bytes, const Box& moof) {
    auto mfhd = findPath(bytes, moof, {"mfhd"});
    auto tfhd = findPath(bytes, moof, {"traf", "tfhd"});
    auto tfdt = findPath(bytes, moof, {"traf", "tfdt"});
    auto trun = findPath(bytes, moof, {"traf", "trun"});
    if (!mfhd || !tfhd || !tfdt || !trun) return std::nullopt;
    if (fullBoxHeader(bytes, *tfhd).flags != 0x020000 || fullBoxHeader(bytes, *trun).flags != 0x000701)
        return std::nullopt;
    Fragment f;
    f.sequence = be32(bytes, mfhd->payload() + 4);
    f.baseDecodeTime = fullBoxHeader(bytes, *tfdt).version == 1 ? be64(bytes, tfdt->payload() + 4)
                                                                : be32(bytes, tfdt->payload() + 4);
    const uint64_t p = trun->payload() + 4;
    const uint32_t n = be32(bytes, p);
    if (trun->size != trun->headerSize + 12 + 12ull * n) return std::nullopt;
    f.dataOffset = moof.offset + int32_t(be32(bytes, p + 4));
    for (uint32_t i = 0; i < n; ++i) {
        zv::mp4::Mp4Sample s;
        s.duration = be32(bytes, p + 8 + 12 * i);
        s.size = be32(bytes, p + 12 + 12 * i);
        const uint32_t flags = be32(bytes, p + 16 + 12 * i);
        s.keyFrame = (flags & 0x0001'0000) == 0;
        f.samples.push_back(s);
    }
    return f;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace mp4test
