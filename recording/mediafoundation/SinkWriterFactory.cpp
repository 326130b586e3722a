#include "recording/mediafoundation/SinkWriterFactory.h"

#include "recording/mediafoundation/BuiltInSinkWriter.h"
#include "recording/mediafoundation/MediaFoundationApi.h"

#include "common/ComRef.h"

HRESULT CreatePlatformSinkWriter(const wchar_t* path, IMFSinkWriter** writer) {
    const MediaFoundationApi& mf = MediaFoundation();
    if (!mf.createSinkWriterFromURL) return MF_E_PLATFORM_NOT_INITIALIZED;
    // Throttled, the platform's writer would hold a WriteSample on one stream until the other
    // catches up, and the sound thread would hold the writer lock the frames wait for.
    ComRef<IMFAttributes> attributes;
    if (mf.createAttributes && SUCCEEDED(mf.createAttributes(attributes.put(), 1)))
        attributes->SetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, TRUE);
    return mf.createSinkWriterFromURL(path, nullptr, attributes.get(), writer);
}

SinkWriterFactories sinkWriterFactories{CreatePlatformSinkWriter, CreateBuiltInSinkWriter};
