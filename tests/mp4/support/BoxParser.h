#pragma once
// A small, strict reader of ISO base media boxes, written for the tests independently of the
// builders: it walks sizes, reads the sample tables back and reports anything that doesn't add up.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Mp4Boxes.h"

namespace mp4test {

struct Box {
    std::string type;
    uint64_t offset = 0;      // of the header
    uint64_t size = 0;        // including the header
    uint32_t headerSize = 0;  // 8, or 16 with a 64-bit size
    uint64_t payload() const { return offset + headerSize; }
    uint64_t end() const { return offset + size; }
};

uint32_t be32(const std::vector<uint8_t>& b, uint64_t at);
uint64_t be64(const std::vector<uint8_t>& b, uint64_t at);
uint16_t be16(const std::vector<uint8_t>& b, uint64_t at);

// Boxes laid back to back in [begin, end). Empty optional if any size runs past end or is too small.
std::optional<std::vector<Box>> parseBoxes(const std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end);

// Children of a container box (avc1 and stsd skip their fixed fields first).
std::optional<std::vector<Box>> childrenOf(const std::vector<uint8_t>& bytes, const Box& box);

// Descends by type names, e.g. {"moov","trak","mdia","minf","stbl","stsz"}. Takes the first match at each level.
std::optional<Box> findPath(const std::vector<uint8_t>& bytes, const Box& root, const std::vector<std::string>& path);
std::optional<Box> findTop(const std::vector<uint8_t>& bytes, const std::string& type);

// Checks every box in the tree nests exactly (children fill their parent to the byte).
bool treeIsConsistent(const std::vector<uint8_t>& bytes, const Box& box);

// Reads stts, stss, stsc, stsz, stco/co64 of a moov back into a table. Empty optional on any inconsistency
// (counts that disagree, a missing box, a chunk run that doesn't cover the samples).
std::optional<zv::mp4::Mp4SampleTable> readSampleTable(const std::vector<uint8_t>& bytes, const Box& moov);

struct FullBoxHeader {
    uint8_t version = 0;
    uint32_t flags = 0;
};
FullBoxHeader fullBoxHeader(const std::vector<uint8_t>& bytes, const Box& box);

// mvhd/tkhd/mdhd duration, whichever version.
uint64_t headerDuration(const std::vector<uint8_t>& bytes, const Box& box);

struct Fragment {
    uint32_t sequence = 0;
    uint64_t baseDecodeTime = 0;
    uint64_t dataOffset = 0;  // absolute file offset of the first sample
    std::vector<zv::mp4::Mp4Sample> samples;
};
// Reads one moof (with the default-base-is-moof layout the muxer uses).
std::optional<Fragment> readFragment(const std::vector<uint8_t>& bytes, const Box& moof);

std::vector<uint8_t> readFile(const std::string& path);

}  // namespace mp4test
