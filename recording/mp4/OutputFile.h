#pragma once
// A file written mostly at its end, with the odd write back over earlier bytes.
// Wide paths on Windows, 64-bit offsets everywhere. Any failed call makes failed() true
// until cutBackTo succeeds; error() keeps the reason of the first failure since open.
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

    // Drops every byte from `size` on (a box a failed write left half done) and reopens the
    // file for writing at that point. False, and still failed, when the file can't be reached.
    bool cutBackTo(uint64_t size);

    bool isOpen() const { return file_ != nullptr; }
    bool failed() const { return failed_; }
    int error() const { return error_; }  // errno of the first failure since open; 0 if none
    uint64_t size() const { return end_; }

private:
    bool seekTo(uint64_t offset);
    bool fail();

    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
    uint64_t end_ = 0;
    bool failed_ = false;
    int error_ = 0;
};

}  // namespace zv::mp4
