#include "OutputFile.h"

#include <cerrno>
#include <system_error>

namespace zv::mp4 {
namespace {

std::FILE* openFile(const std::filesystem::path& path, bool update) {
#ifdef _WIN32
    // fopen takes the ANSI code page on Windows; _wfopen keeps every character of the name.
    return _wfopen(path.c_str(), update ? L"r+b" : L"wb");
#else
    return std::fopen(path.c_str(), update ? "r+b" : "wb");
#endif
}

}  // namespace

bool OutputFile::open(const std::filesystem::path& path) {
    close();
    path_ = path;
    failed_ = false;
    error_ = 0;
    end_ = 0;
    errno = 0;
    file_ = openFile(path, false);
    return file_ ? true : fail();
}

// Keeps the first reason only: later calls on a broken file say less about what went wrong.
bool OutputFile::fail() {
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    failed_ = true;
    return false;
}

bool OutputFile::seekTo(uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file_, int64_t(offset), SEEK_SET) == 0;
#else
    return fseeko(file_, off_t(offset), SEEK_SET) == 0;
#endif
}

bool OutputFile::append(const void* data, size_t size) {
    if (!file_ || failed_) return false;
    errno = 0;
    if (size > 0 && std::fwrite(data, 1, size, file_) != size) return fail();
    end_ += size;
    return true;
}

bool OutputFile::overwrite(uint64_t offset, const void* data, size_t size) {
    if (!file_ || failed_) return false;
    errno = 0;
    if (offset + size > end_ || !seekTo(offset) || std::fwrite(data, 1, size, file_) != size || !seekTo(end_))
        return fail();
    return true;
}

bool OutputFile::flush() {
    if (!file_ || failed_) return false;
    errno = 0;
    return std::fflush(file_) == 0 || fail();
}

bool OutputFile::close() {
    if (file_) {
        errno = 0;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!closed && !failed_) fail();
    }
    return !failed_;
}

bool OutputFile::cutBackTo(uint64_t size) {
    if (file_) std::fclose(file_);  // may push out stale buffered bytes; they are cut off below
    file_ = nullptr;
    if (size > end_) return fail();
    std::error_code resized;
    std::filesystem::resize_file(path_, size, resized);
    errno = 0;
    if (resized || !(file_ = openFile(path_, true)) || !seekTo(size)) return fail();
    end_ = size;
    failed_ = false;
    return true;
}

}  // namespace zv::mp4
