#include <gtest/gtest.h>

#include <random>
#include <variant>

#include "BitWriter.h"

using namespace zv::h264;

namespace {

// Minimal reader for what the writer produces.
class BitReader {
public:
    explicit BitReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint32_t bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (position_ >= bytes_.size() * 8) {
                overrun_ = true;
                return value;
            }
            value = value << 1 | ((bytes_[position_ / 8] >> (7 - position_ % 8)) & 1);
            ++position_;
        }
        return value;
    }
    uint32_t ue() {
        int zeros = 0;
        while (bits(1) == 0 && !overrun_) ++zeros;
        return uint32_t((uint64_t(1) << zeros) - 1 + (zeros > 0 ? bits(zeros) : 0));
    }
    int32_t se() {
        const uint32_t k = ue();
        return k % 2 ? int32_t((k + 1) / 2) : -int32_t(k / 2);
    }
    size_t position() const { return position_; }
    bool overrun() const { return overrun_; }

private:
    const std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
    bool overrun_ = false;
};

std::vector<uint8_t> unescape(const std::vector<uint8_t>& nal) {
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t b : nal) {
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

TEST(BitWriter, KnownExpGolombCodes) {
    BitWriter w;
    w.putUe(0);   // 1
    w.putUe(1);   // 010
    w.putUe(4);   // 00101
    w.putSe(-2);  // codeNum 4: 00101
    w.putSe(1);   // codeNum 1: 010
    w.putTrailingBits();
    // 1 010 00101 00101 010, stop bit, zero padding: 10100010 10010101 01000000
    EXPECT_EQ(w.bytes(), (std::vector<uint8_t>{0xA2, 0x95, 0x40}));
}

TEST(BitWriter, RandomSequencesRoundTrip) {
    std::mt19937 random(1234);
    for (int round = 0; round < 200; ++round) {
        struct Item {
            int kind;  // 0 bits, 1 ue, 2 se
            int64_t value;
            int count;
        };
        std::vector<Item> items;
        BitWriter w;
        const int n = int(random() % 200) + 1;
        for (int i = 0; i < n; ++i) {
            Item item{int(random() % 3), 0, 0};
            if (item.kind == 0) {
                item.count = int(random() % 33);
                item.value = item.count == 0 ? 0 : int64_t(random() & (item.count == 32 ? 0xFFFFFFFFu : (1u << item.count) - 1));
                w.putBits(uint32_t(item.value), item.count);
            } else if (item.kind == 1) {
                item.value = random() % 4 == 0 ? int64_t(random()) % 0xFFFFFFFE : int64_t(random() % 300);
                w.putUe(uint32_t(item.value));
            } else {
                item.value = random() % 4 == 0 ? int64_t(int32_t(random() >> 1)) - 0x3FFFFFFF : int64_t(random() % 301) - 150;
                w.putSe(int32_t(item.value));
            }
            items.push_back(item);
        }
        const int64_t payloadBits = w.bitCount();
        w.putTrailingBits();
        ASSERT_TRUE(w.byteAligned());
        const std::vector<uint8_t> rbsp = w.bytes();
        // Through a NAL unit and back, as a decoder sees it.
        const std::vector<uint8_t> nal = makeNal(0x41, rbsp);
        ASSERT_EQ(nal[0], 0x41);
        const std::vector<uint8_t> back = unescape(std::vector<uint8_t>(nal.begin() + 1, nal.end()));
        ASSERT_EQ(back, rbsp);
        BitReader r(back);
        for (const Item& item : items) {
            if (item.kind == 0) ASSERT_EQ(r.bits(item.count), uint32_t(item.value));
            else if (item.kind == 1) ASSERT_EQ(r.ue(), uint32_t(item.value));
            else ASSERT_EQ(r.se(), int32_t(item.value));
        }
        ASSERT_EQ(int64_t(r.position()), payloadBits);
        EXPECT_EQ(r.bits(1), 1u);  // stop bit
        while (r.position() % 8) EXPECT_EQ(r.bits(1), 0u);
        EXPECT_EQ(r.position(), back.size() * 8);
        EXPECT_FALSE(r.overrun());
    }
}

TEST(BitWriter, EscapesEveryStartCodeLikeRun) {
    const std::vector<uint8_t> rbsp = {0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 0x80};
    const std::vector<uint8_t> nal = makeNal(0x65, rbsp);
    const std::vector<uint8_t> expected = {0x65, 0, 0, 3, 0, 0, 3, 0, 1, 0, 0, 3, 2, 0, 0, 3, 3, 0, 0, 4, 0, 0, 0x80};
    EXPECT_EQ(nal, expected);
}

TEST(BitWriter, RandomZeroHeavyPayloadsEscapeAndRoundTrip) {
    std::mt19937 random(99);
    for (int round = 0; round < 500; ++round) {
        std::vector<uint8_t> rbsp(random() % 64 + 1);
        for (uint8_t& b : rbsp) b = random() % 3 == 0 ? uint8_t(random() % 5) : 0;
        rbsp.back() = 0x80;  // an RBSP always ends in its stop bit
        std::vector<uint8_t> out = {0xAA};
        appendLengthPrefixedNal(out, 0x41, rbsp);
        const uint32_t length = uint32_t(out[1]) << 24 | uint32_t(out[2]) << 16 | uint32_t(out[3]) << 8 | out[4];
        ASSERT_EQ(length + 5, out.size());
        ASSERT_EQ(out[5], 0x41);
        for (size_t i = 6; i + 2 < out.size(); ++i)
            ASSERT_FALSE(out[i] == 0 && out[i + 1] == 0 && out[i + 2] < 3) << "start code inside at " << i;
        EXPECT_EQ(unescape(std::vector<uint8_t>(out.begin() + 6, out.end())), rbsp);
    }
}

TEST(BitWriter, ExpGolombLengths) {
    EXPECT_EQ(ueBitLength(0), 1);
    EXPECT_EQ(ueBitLength(1), 3);
    EXPECT_EQ(ueBitLength(6), 5);
    EXPECT_EQ(ueBitLength(7), 7);
    EXPECT_EQ(seBitLength(0), 1);
    EXPECT_EQ(seBitLength(-1), 3);
    EXPECT_EQ(seBitLength(2), 5);
}

}  // namespace
