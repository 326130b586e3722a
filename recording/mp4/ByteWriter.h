#pragma once
// Big-endian byte building for ISO base media boxes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace zv::mp4 {

class ByteWriter {
public:
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u16(uint16_t v) { u8(uint8_t(v >> 8)); u8(uint8_t(v)); }
    void u24(uint32_t v) { u8(uint8_t(v >> 16)); u16(uint16_t(v)); }
    void u32(uint32_t v) { u16(uint16_t(v >> 16)); u16(uint16_t(v)); }
    void u64(uint64_t v) { u32(uint32_t(v >> 32)); u32(uint32_t(v)); }
    void fourcc(const char (&code)[5]) { bytes(reinterpret_cast<const uint8_t*>(code), 4); }
    void zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void bytes(const uint8_t* data, size_t count) { bytes_.insert(bytes_.end(), data, data + count); }
    void bytes(std::span<const uint8_t> data) { bytes(data.data(), data.size()); }

    // Opens a box with a 32-bit size filled in by endBox.
    size_t beginBox(const char (&type)[5]) {
        const size_t start = bytes_.size();
        u32(0);
        fourcc(type);
        return start;
    }
    size_t beginFullBox(const char (&type)[5], uint8_t version, uint32_t flags) {
        const size_t start = beginBox(type);
        u8(version);
        u24(flags);
        return start;
    }
    void endBox(size_t start) { patchU32(start, uint32_t(bytes_.size() - start)); }

    void patchU32(size_t at, uint32_t v) {
        const uint8_t be[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        std::memcpy(bytes_.data() + at, be, 4);
    }

    size_t size() const { return bytes_.size(); }
    std::vector<uint8_t>& data() { return bytes_; }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace zv::mp4
