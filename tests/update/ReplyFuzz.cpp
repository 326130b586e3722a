// Arbitrary bytes through every reader: no crash, no read out of bounds (libFuzzer + ASan).
#include "update/ReplyReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    ReadJsonFlag(reply, "available");
    for (const char* key : {"version", "changelog", "download_url"}) {
        const std::wstring text = Utf8ToWide(ReadJsonString(reply, key));
        IsNewerVersion(text, L"1.0.0");
    }
    IsNewerVersion(Utf8ToWide(reply), Utf8ToWide(reply.substr(size / 2)));
    return 0;
}
