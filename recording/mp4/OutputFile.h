#pragma once
// A file written mostly at its end, with the odd write back over earlier bytes.
// Wide paths on Windows, 64-bit offsets everywhere. Any failed call makes failed() true for good.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace zv::mp4 {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open(const std::filesystem::path& path);  // creates or truncates
    bool append(const void* data, size_t size);
    bool overwrite(uint64_t offset, const void* data, size_t size);  // leaves the position at the end
    bool flush();                                                    // hands buffered bytes to the OS
    bool close();                                                    // false if anything failed

    bool isOpen() const { return file_ != nullptr; }
    bool failed() const { return failed_; }
    uint64_t size() const { return end_; }

private:
    bool seekTo(uint64_t offset);

    std::FILE* file_ = nullptr;
    uint64_t end_ = 0;
    bool failed_ = false;
};

}  // namespace zv::mp4
