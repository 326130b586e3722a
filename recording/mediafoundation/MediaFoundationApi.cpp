#include "recording/mediafoundation/MediaFoundationApi.h"

#include "BuiltInMediaObjects.h"

namespace {

template <typename Fn>
void Resolve(HMODULE library, const char* name, Fn& target) {
    if (library) target = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

MediaFoundationApi Load() {
    MediaFoundationApi api;
    // From the system folder only: the program's own folder may be a Downloads folder with
    // anything planted in it.
    HMODULE platform = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    HMODULE readWrite = LoadLibraryExW(L"mfreadwrite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    Resolve(platform, "MFStartup", api.startup);
    Resolve(platform, "MFShutdown", api.shutdown);
    Resolve(platform, "MFCreateMediaType", api.createMediaType);
    Resolve(platform, "MFCreateMemoryBuffer", api.createMemoryBuffer);
    Resolve(platform, "MFCreateSample", api.createSample);
    Resolve(platform, "MFCreateAttributes", api.createAttributes);
    Resolve(readWrite, "MFCreateSinkWriterFromURL", api.createSinkWriterFromURL);
    return api;
}

}  // namespace

bool MediaFoundationApi::present() const {
    return startup && shutdown && createSinkWriterFromURL && createMediaType && createMemoryBuffer && createSample;
}

const MediaFoundationApi& MediaFoundation() {
    static const MediaFoundationApi api = Load();
    return api;
}

HRESULT NewMediaType(IMFMediaType** type) {
    const MediaFoundationApi& mf = MediaFoundation();
    return mf.present() ? mf.createMediaType(type) : CreateBuiltInMediaType(type);
}

HRESULT NewMemoryBuffer(DWORD maxLength, IMFMediaBuffer** buffer) {
    const MediaFoundationApi& mf = MediaFoundation();
    return mf.present() ? mf.createMemoryBuffer(maxLength, buffer) : CreateBuiltInMemoryBuffer(maxLength, buffer);
}

HRESULT NewSample(IMFSample** sample) {
    const MediaFoundationApi& mf = MediaFoundation();
    return mf.present() ? mf.createSample(sample) : CreateBuiltInSample(sample);
}
