#pragma once
// Where sink writers come from. The platform's writer is tried first; the program's own
// writer takes over where the platform has no H.264 MP4 writer. Tests swap these out.
#include <windows.h>
#include "MediaFoundation.h"

using CreateSinkWriterFn = HRESULT (*)(const wchar_t* path, IMFSinkWriter** writer);

struct SinkWriterFactories {
    CreateSinkWriterFn platform;
    CreateSinkWriterFn builtIn;  // may be null
};

SinkWriterFactories& ActiveSinkWriterFactories();
HRESULT CreatePlatformSinkWriter(const wchar_t* path, IMFSinkWriter** writer);
