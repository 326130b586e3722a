#pragma once
#include <windows.h>
#include "MediaFoundation.h"

// The program's own sink writer: one H.264 video stream from RGB32 frames into an MP4 file,
// for systems whose media platform has no H.264 MP4 writer.
HRESULT CreateBuiltInSinkWriter(const wchar_t* path, IMFSinkWriter** writer);
