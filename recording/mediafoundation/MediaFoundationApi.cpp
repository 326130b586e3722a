#include "recording/mediafoundation/MediaFoundationApi.h"

#include "BuiltInMediaObjects.h"

namespace {

template <typename Fn>
void Resolve(HMODULE library, const char* name, Fn& target) {
    if (library) target = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

MediaFoundationApi Load() {
    MediaFoundationApi api;
    HMODULE platform = LoadLibraryW(L"mfplat.dll");
    HMODULE readWrite = LoadLibraryW(L"mfreadwrite.dll");
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
