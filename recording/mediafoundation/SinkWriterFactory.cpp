#include "recording/mediafoundation/SinkWriterFactory.h"

#include "recording/mediafoundation/BuiltInSinkWriter.h"
#include "recording/mediafoundation/MediaFoundationApi.h"

HRESULT CreatePlatformSinkWriter(const wchar_t* path, IMFSinkWriter** writer) {
    const MediaFoundationApi& mf = MediaFoundation();
    if (!mf.createSinkWriterFromURL) return MF_E_PLATFORM_NOT_INITIALIZED;
    return mf.createSinkWriterFromURL(path, nullptr, nullptr, writer);
}

SinkWriterFactories sinkWriterFactories{CreatePlatformSinkWriter, CreateBuiltInSinkWriter};
