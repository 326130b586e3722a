#include "BitWriter.h"

#include <cstddef>

namespace zv::h264 {

void BitWriter::flushWords() {
    while (accBits_ >= 8) {
        accBits_ -= 8;
        bytes_.push_back(uint8_t(acc_ >> accBits_));
    }
    acc_ &= (uint64_t(1) << accBits_) - 1;
}

int ueBitLength(uint32_t value) {
    uint64_t v = uint64_t(value) + 1;
    int bits = 0;
    while (v >> bits) ++bits;
    return bits * 2 - 1;
}

void BitWriter::putUe(uint32_t value) {
    const uint64_t v = uint64_t(value) + 1;
    int bits = 0;
    while (v >> bits) ++bits;
    if (bits <= 16) {
        putBits(uint32_t(v), bits * 2 - 1);
    } else {
        putBits(0, bits - 1);
        if (bits > 32) {
            putBits(uint32_t(v >> 32), bits - 32);
            putBits(uint32_t(v), 32);
        } else {
            putBits(uint32_t(v), bits);
        }
    }
}

void BitWriter::putSe(int32_t value) {
    putUe(value > 0 ? uint32_t(value) * 2 - 1 : uint32_t(-int64_t(value)) * 2);
}

void BitWriter::putTrailingBits() {
    putBits(1, 1);
    const int pad = (8 - accBits_ % 8) % 8;
    putBits(0, pad);
    flushWords();
}

static void appendEscaped(std::vector<uint8_t>& out, const std::vector<uint8_t>& rbsp) {
    // A decoder would read 00 00 0x (x <= 3) as a start code or escape, so break such runs with 03.
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
}

void appendLengthPrefixedNal(std::vector<uint8_t>& out, uint8_t nalHeader, const std::vector<uint8_t>& rbsp) {
    const size_t lengthAt = out.size();
    out.resize(lengthAt + 4);
    out.push_back(nalHeader);
    appendEscaped(out, rbsp);
    const uint32_t length = uint32_t(out.size() - lengthAt - 4);
    for (int i = 0; i < 4; ++i) out[lengthAt + i] = uint8_t(length >> (24 - 8 * i));
}

std::vector<uint8_t> makeNal(uint8_t nalHeader, const std::vector<uint8_t>& rbsp) {
    std::vector<uint8_t> nal{nalHeader};
    appendEscaped(nal, rbsp);
    return nal;
}

}  // namespace zv::h264
