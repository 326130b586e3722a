#pragma once
// Where sink writers come from. The platform's writer is tried first; the program's own
// writer takes over where the platform has no H.264 MP4 writer.
#include <windows.h>
#include "recording/mediafoundation/MediaFoundation.h"

using CreateSinkWriterFn = HRESULT (*)(const wchar_t* path, IMFSinkWriter** writer);

struct SinkWriterFactories {
    CreateSinkWriterFn platform;
    CreateSinkWriterFn builtIn;  // may be null
};

// The factories in use; tests put their fakes here (and the real ones back).
extern SinkWriterFactories sinkWriterFactories;
HRESULT CreatePlatformSinkWriter(const wchar_t* path, IMFSinkWriter** writer);
