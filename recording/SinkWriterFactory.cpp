#include "SinkWriterFactory.h"

#include "BuiltInSinkWriter.h"

HRESULT CreatePlatformSinkWriter(const wchar_t* path, IMFSinkWriter** writer) {
    return MFCreateSinkWriterFromURL(path, nullptr, nullptr, writer);
}

SinkWriterFactories& ActiveSinkWriterFactories() {
    static SinkWriterFactories factories{CreatePlatformSinkWriter, CreateBuiltInSinkWriter};
    return factories;
}
