#pragma once
#include <windows.h>
#include "recording/mediafoundation/MediaFoundation.h"

// The program's own sink writer: one H.264 video stream from RGB32 frames into an MP4 file, and
// optionally a second one, AAC from 48 kHz stereo 16-bit PCM, for systems whose media platform
// has no H.264 MP4 writer.
// The writer's encoder failed.
constexpr HRESULT kEncoderFailed = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0202);

HRESULT CreateBuiltInSinkWriter(const wchar_t* path, IMFSinkWriter** writer);
