#include "OutputFile.h"

namespace zv::mp4 {

bool OutputFile::open(const std::filesystem::path& path) {
    close();
    failed_ = false;
    end_ = 0;
#ifdef _WIN32
    // fopen takes the ANSI code page on Windows; _wfopen keeps every character of the name.
    file_ = _wfopen(path.c_str(), L"wb");
#else
    file_ = std::fopen(path.c_str(), "wb");
#endif
    failed_ = file_ == nullptr;
    return !failed_;
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
    if (size > 0 && std::fwrite(data, 1, size, file_) != size) failed_ = true;
    if (!failed_) end_ += size;
    return !failed_;
}

bool OutputFile::overwrite(uint64_t offset, const void* data, size_t size) {
    if (!file_ || failed_) return false;
    if (offset + size > end_ || !seekTo(offset) || std::fwrite(data, 1, size, file_) != size || !seekTo(end_))
        failed_ = true;
    return !failed_;
}

bool OutputFile::flush() {
    if (!file_ || failed_) return false;
    if (std::fflush(file_) != 0) failed_ = true;
    return !failed_;
}

bool OutputFile::close() {
    if (file_) {
        if (std::fclose(file_) != 0) failed_ = true;
        file_ = nullptr;
    }
    return !failed_;
}

}  // namespace zv::mp4
