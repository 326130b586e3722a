#pragma once
// Media Foundation reached at run time, so the program starts on editions of Windows that
// ship without it. Where it is missing, media types, samples and buffers are the program's
// own (BuiltInMediaObjects) and recording goes through the built-in writer.
#include <windows.h>
#include "recording/mediafoundation/MediaFoundation.h"

struct MediaFoundationApi {
    decltype(&MFStartup) startup = nullptr;
    decltype(&MFShutdown) shutdown = nullptr;
    decltype(&MFCreateSinkWriterFromURL) createSinkWriterFromURL = nullptr;
    decltype(&MFCreateMediaType) createMediaType = nullptr;
    decltype(&MFCreateMemoryBuffer) createMemoryBuffer = nullptr;
    decltype(&MFCreateSample) createSample = nullptr;
    decltype(&MFCreateAttributes) createAttributes = nullptr;

    // True only when every function above was found.
    bool present() const;
};

// Loaded on first use, once per process; the libraries stay loaded until the process ends.
const MediaFoundationApi& MediaFoundation();

// The platform's objects where Media Foundation is present, the program's own elsewhere.
HRESULT NewMediaType(IMFMediaType** type);
HRESULT NewMemoryBuffer(DWORD maxLength, IMFMediaBuffer** buffer);
HRESULT NewSample(IMFSample** sample);
