// The box builders on their own: layouts, sizes, and the switches to 64-bit fields.
#include <gtest/gtest.h>

#include <limits>

#include "BoxParser.h"
#include "Mp4Boxes.h"

using namespace zv::mp4;
using namespace mp4test;

namespace {

constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();

Mp4VideoTrack sampleTrack(int width = 320, int height = 240) {
    Mp4VideoTrack t;
    t.width = width;
    t.height = height;
    t.sps = {0x67, 0x42, 0xC0, 0x1E, 0xDA, 0x01, 0x40};
    t.pps = {0x68, 0xCE, 0x3C, 0x80};
    t.creationTime = 3'800'000'000u;
    return t;
}

Mp4SampleTable tableWithDuration(uint64_t total) {
    Mp4SampleTable table;
    while (total > 0) {
        const uint32_t d = uint32_t(std::min<uint64_t>(total, kMax32));
        table.samples.push_back(Mp4Sample{100, d, table.samples.empty()});
        total -= d;
    }
    table.chunks.push_back(Mp4Chunk{1000, 0, uint32_t(table.samples.size())});
    return table;
}

Box onlyBox(const std::vector<uint8_t>& bytes) {
    auto boxes = parseBoxes(bytes, 0, bytes.size());
    EXPECT_TRUE(boxes && boxes->size() == 1);
    return boxes && !boxes->empty() ? boxes->front() : Box{};
}

}  // namespace

TEST(Mp4Boxes, FileStartIsFtypThenEightByteFreeThenFragmentedMoov) {
    const Mp4FileStart start = buildFileStart(sampleTrack());
    auto boxes = parseBoxes(start.bytes, 0, start.bytes.size());
    ASSERT_TRUE(boxes);
    ASSERT_EQ(boxes->size(), 3u);
    EXPECT_EQ((*boxes)[0].type, "ftyp");
    EXPECT_EQ((*boxes)[1].type, "free");
    EXPECT_EQ((*boxes)[1].size, 8u);
    EXPECT_EQ((*boxes)[1].offset, start.wrapOffset);
    EXPECT_EQ((*boxes)[2].type, "moov");
    EXPECT_TRUE(treeIsConsistent(start.bytes, (*boxes)[2]));

    const std::string brands(reinterpret_cast<const char*>(&start.bytes[8]), (*boxes)[0].size - 8);
    EXPECT_EQ(brands.substr(0, 4), "isom");
    EXPECT_NE(brands.find("avc1"), std::string::npos);

    auto trex = findPath(start.bytes, (*boxes)[2], {"mvex", "trex"});
    ASSERT_TRUE(trex);
    EXPECT_EQ(be32(start.bytes, trex->payload() + 4), kTrackId);
    auto table = readSampleTable(start.bytes, (*boxes)[2]);
    ASSERT_TRUE(table);
    EXPECT_TRUE(table->samples.empty());
    EXPECT_TRUE(table->chunks.empty());
}

TEST(Mp4Boxes, SampleEntryCarriesSizeAndDecoderConfiguration) {
    const Mp4VideoTrack track = sampleTrack(1366, 769);
    const std::vector<uint8_t> moov = buildFinalMoov(track, tableWithDuration(9000));
    const Box root = onlyBox(moov);
    auto avc1 = findPath(moov, root, {"trak", "mdia", "minf", "stbl", "stsd", "avc1"});
    ASSERT_TRUE(avc1);
    EXPECT_EQ(be16(moov, avc1->payload() + 24), 1366);
    EXPECT_EQ(be16(moov, avc1->payload() + 26), 769);
    auto avcC = findPath(moov, *avc1, {"avcC"});
    ASSERT_TRUE(avcC);
    const uint64_t p = avcC->payload();
    EXPECT_EQ(moov[p], 1);
    EXPECT_EQ(moov[p + 1], 0x42);  // profile from the SPS
    EXPECT_EQ(moov[p + 2], 0xC0);
    EXPECT_EQ(moov[p + 3], 0x1E);  // level
    EXPECT_EQ(moov[p + 4] & 3, 3);  // 4-byte lengths
    EXPECT_EQ(moov[p + 5] & 31, 1);
    ASSERT_EQ(be16(moov, p + 6), track.sps.size());
    EXPECT_TRUE(std::equal(track.sps.begin(), track.sps.end(), moov.begin() + p + 8));
    const uint64_t q = p + 8 + track.sps.size();
    EXPECT_EQ(moov[q], 1);
    ASSERT_EQ(be16(moov, q + 1), track.pps.size());
    EXPECT_TRUE(std::equal(track.pps.begin(), track.pps.end(), moov.begin() + q + 3));
    EXPECT_EQ(avcC->end(), q + 3 + track.pps.size());  // baseline: no chroma fields

    auto tkhd = findPath(moov, root, {"trak", "tkhd"});
    ASSERT_TRUE(tkhd);
    EXPECT_EQ(be32(moov, tkhd->end() - 8), 1366u << 16);
    EXPECT_EQ(be32(moov, tkhd->end() - 4), 769u << 16);
    // identity matrix right before width/height
    const uint32_t identity[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(be32(moov, tkhd->end() - 44 + 4 * i), identity[i]);
    auto hdlr = findPath(moov, root, {"trak", "mdia", "hdlr"});
    ASSERT_TRUE(hdlr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&moov[hdlr->payload() + 8]), 4), "vide");
    EXPECT_FALSE(findPath(moov, root, {"mvex"}));
}

TEST(Mp4Boxes, HighProfileDecoderConfigurationHasChromaFields) {
    Mp4VideoTrack track = sampleTrack();
    track.sps[1] = 100;
    const std::vector<uint8_t> moov = buildFinalMoov(track, tableWithDuration(9000));
    auto avcC = findPath(moov, onlyBox(moov), {"trak", "mdia", "minf", "stbl", "stsd", "avc1", "avcC"});
    ASSERT_TRUE(avcC);
    EXPECT_EQ(avcC->size, 8 + 6 + 2 + track.sps.size() + 3 + track.pps.size() + 4);
    EXPECT_EQ(moov[avcC->end() - 4], 0xFD);  // 4:2:0
}

TEST(Mp4Boxes, DurationsSwitchToVersionOneAboveThirtyTwoBits) {
    for (uint64_t total : std::initializer_list<uint64_t>{kMax32 - 1, kMax32, kMax32 + 1, 40ull * 3600 * kTimescale}) {
        Mp4VideoTrack track = sampleTrack();
        track.creationTime = 1000;
        const std::vector<uint8_t> moov = buildFinalMoov(track, tableWithDuration(total));
        const Box root = onlyBox(moov);
        ASSERT_TRUE(treeIsConsistent(moov, root));
        const uint8_t expectedVersion = total > kMax32 ? 1 : 0;
        for (auto path : std::vector<std::vector<std::string>>{{"mvhd"}, {"trak", "tkhd"}, {"trak", "mdia", "mdhd"}}) {
            auto box = findPath(moov, root, path);
            ASSERT_TRUE(box);
            EXPECT_EQ(fullBoxHeader(moov, *box).version, expectedVersion) << path.back() << " " << total;
            EXPECT_EQ(headerDuration(moov, *box), total) << path.back() << " " << total;
            EXPECT_EQ(box->size, box->headerSize + 4 + (path.back() == "mvhd" ? 96 : path.back() == "tkhd" ? 80 : 20) +
                                     (expectedVersion ? 12 : 0));
        }
        auto table = readSampleTable(moov, root);
        ASSERT_TRUE(table);
        EXPECT_EQ(totalDuration(*table), total);
    }
}

TEST(Mp4Boxes, CreationTimeBeyondThirtyTwoBitsAlsoSwitchesVersion) {
    Mp4VideoTrack track = sampleTrack();
    track.creationTime = kMax32 + 5;
    const std::vector<uint8_t> moov = buildFinalMoov(track, tableWithDuration(9000));
    auto mvhd = findPath(moov, onlyBox(moov), {"mvhd"});
    ASSERT_TRUE(mvhd);
    EXPECT_EQ(fullBoxHeader(moov, *mvhd).version, 1);
    EXPECT_EQ(be64(moov, mvhd->payload() + 4), kMax32 + 5);
    EXPECT_EQ(headerDuration(moov, *mvhd), 9000u);
}

TEST(Mp4Boxes, ChunkOffsetsUseCo64OnlyPastThirtyTwoBits) {
    for (uint64_t last : std::initializer_list<uint64_t>{kMax32, kMax32 + 1, 9ull << 32}) {
        Mp4SampleTable table;
        for (int i = 0; i < 4; ++i) table.samples.push_back(Mp4Sample{uint32_t(10 + i), 3000, i == 0});
        table.chunks = {{48, 0, 2}, {last, 2, 2}};
        const std::vector<uint8_t> moov = buildFinalMoov(sampleTrack(), table);
        const Box root = onlyBox(moov);
        const bool wide = last > kMax32;
        EXPECT_EQ(bool(findPath(moov, root, {"trak", "mdia", "minf", "stbl", "co64"})), wide);
        EXPECT_EQ(bool(findPath(moov, root, {"trak", "mdia", "minf", "stbl", "stco"})), !wide);
        auto back = readSampleTable(moov, root);
        ASSERT_TRUE(back);
        ASSERT_EQ(back->chunks.size(), 2u);
        EXPECT_EQ(back->chunks[1].offset, last);
        EXPECT_EQ(back->chunks[0].offset, 48u);
    }
}

TEST(Mp4Boxes, SampleTablesAreRunLengthCoded) {
    Mp4SampleTable table;
    const uint32_t durations[] = {3000, 3000, 3000, 90000, 3000, 3000, 1, 1};
    for (int i = 0; i < 8; ++i) table.samples.push_back(Mp4Sample{uint32_t(100 + i), durations[i], i % 3 == 0});
    table.chunks = {{100, 0, 3}, {1000, 3, 3}, {2000, 6, 1}, {3000, 7, 1}};
    const std::vector<uint8_t> moov = buildFinalMoov(sampleTrack(), table);
    const Box root = onlyBox(moov);
    auto stts = findPath(moov, root, {"trak", "mdia", "minf", "stbl", "stts"});
    auto stsc = findPath(moov, root, {"trak", "mdia", "minf", "stbl", "stsc"});
    auto stss = findPath(moov, root, {"trak", "mdia", "minf", "stbl", "stss"});
    ASSERT_TRUE(stts && stsc && stss);
    EXPECT_EQ(be32(moov, stts->payload() + 4), 4u);  // 3000x3, 90000, 3000x2, 1x2
    EXPECT_EQ(be32(moov, stsc->payload() + 4), 2u);  // chunks 1-2 of 3, chunks 3-4 of 1
    EXPECT_EQ(be32(moov, stss->payload() + 4), 3u);  // samples 1, 4, 7
    EXPECT_EQ(be32(moov, stss->payload() + 12), 4u);
    auto back = readSampleTable(moov, root);
    ASSERT_TRUE(back);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(back->samples[i].size, table.samples[i].size);
        EXPECT_EQ(back->samples[i].duration, table.samples[i].duration);
        EXPECT_EQ(back->samples[i].keyFrame, table.samples[i].keyFrame);
    }
}

TEST(Mp4Boxes, FragmentHeaderPointsAtPayloadRightAfterIt) {
    std::vector<Mp4Sample> samples = {{1000, 3000, true}, {200, 3003, false}, {300, 2997, false}};
    const std::vector<uint8_t> header = buildFragmentHeader(7, 123456789012ull, samples);
    auto boxes = parseBoxes(header, 0, header.size() - 8);
    ASSERT_TRUE(boxes);
    ASSERT_EQ(boxes->size(), 1u);
    EXPECT_EQ((*boxes)[0].type, "moof");
    EXPECT_TRUE(treeIsConsistent(header, (*boxes)[0]));
    EXPECT_EQ(be32(header, header.size() - 8), 8u + 1500);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&header[header.size() - 4]), 4), "mdat");
    EXPECT_EQ(fragmentPayloadOffset(samples), header.size());

    auto fragment = readFragment(header, (*boxes)[0]);
    ASSERT_TRUE(fragment);
    EXPECT_EQ(fragment->sequence, 7u);
    EXPECT_EQ(fragment->baseDecodeTime, 123456789012ull);
    EXPECT_EQ(fragment->dataOffset, header.size());
    ASSERT_EQ(fragment->samples.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fragment->samples[i].size, samples[i].size);
        EXPECT_EQ(fragment->samples[i].duration, samples[i].duration);
        EXPECT_EQ(fragment->samples[i].keyFrame, samples[i].keyFrame);
    }
}

TEST(Mp4Boxes, FragmentPayloadPastFourGigabytesGetsLargeMdat) {
    // Only the header is built: the sizes alone drive the layout.
    std::vector<Mp4Sample> samples = {{kMax32 - 100, 3000, true}, {200, 3000, false}};
    const std::vector<uint8_t> header = buildFragmentHeader(1, 0, samples);
    ASSERT_EQ(fragmentPayloadOffset(samples), header.size());
    EXPECT_EQ(be32(header, header.size() - 16), 1u);
    EXPECT_EQ(be64(header, header.size() - 8), uint64_t(kMax32) + 100 + 16);

    std::vector<Mp4Sample> justFits = {{uint32_t(kMax32 - 8), 3000, true}};
    const std::vector<uint8_t> small = buildFragmentHeader(1, 0, justFits);
    EXPECT_EQ(be32(small, small.size() - 8), kMax32);
}

TEST(Mp4Boxes, WrappingMdatHeaderSwitchesToLargeSizeAboveThirtyTwoBits) {
    const std::vector<uint8_t> small = buildWrappingMdatHeader(kMax32);
    ASSERT_EQ(small.size(), 8u);
    EXPECT_EQ(be32(small, 0), kMax32);
    const std::vector<uint8_t> large = buildWrappingMdatHeader(kMax32 + 1);
    ASSERT_EQ(large.size(), 16u);
    EXPECT_EQ(be32(large, 0), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&large[4]), 4), "mdat");
    EXPECT_EQ(be64(large, 8), kMax32 + 1);
}

TEST(Mp4Boxes, TrackValidation) {
    EXPECT_TRUE(isValidTrack(sampleTrack()));
    Mp4VideoTrack t = sampleTrack();
    t.width = 0;
    EXPECT_FALSE(isValidTrack(t));
    t = sampleTrack();
    t.height = 70000;
    EXPECT_FALSE(isValidTrack(t));
    t = sampleTrack();
    t.sps.resize(3);
    EXPECT_FALSE(isValidTrack(t));
    t = sampleTrack();
    t.pps.clear();
    EXPECT_FALSE(isValidTrack(t));
}
