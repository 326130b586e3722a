#pragma once
#include <cstdint>
#include <vector>

namespace zv::h264 {

// Writes an RBSP (raw payload, before emulation prevention) bit by bit, most significant bit first.
class BitWriter {
public:
    void clear() { bytes_.clear(); acc_ = 0; accBits_ = 0; }
    // count in [0, 32]; value must fit in count bits.
    void putBits(uint32_t value, int count) {
        acc_ = (acc_ << count) | value;
        accBits_ += count;
        if (accBits_ >= 32) flushWords();
    }
    void putBit(bool bit) { putBits(bit ? 1u : 0u, 1); }
    void putUe(uint32_t value);
    void putSe(int32_t value);
    // rbsp_stop_one_bit followed by zero bits up to the byte boundary.
    void putTrailingBits();
    bool byteAligned() const { return accBits_ % 8 == 0; }
    int64_t bitCount() const { return int64_t(bytes_.size()) * 8 + accBits_; }
    // Only meaningful when byteAligned().
    const std::vector<uint8_t>& bytes() { flushWords(); return bytes_; }

private:
    void flushWords();
    std::vector<uint8_t> bytes_;
    uint64_t acc_ = 0;
    int accBits_ = 0;
};

// Length of se(v)/ue(v) codes, for cost estimates.
int ueBitLength(uint32_t value);
inline int seBitLength(int32_t value) {
    return ueBitLength(value > 0 ? uint32_t(value) * 2 - 1 : uint32_t(-int64_t(value)) * 2);
}

// Appends one NAL unit as a 4-byte big-endian length followed by the header byte and the escaped payload.
void appendLengthPrefixedNal(std::vector<uint8_t>& out, uint8_t nalHeader, const std::vector<uint8_t>& rbsp);
// The NAL unit alone: header byte plus escaped payload.
std::vector<uint8_t> makeNal(uint8_t nalHeader, const std::vector<uint8_t>& rbsp);

}  // namespace zv::h264
