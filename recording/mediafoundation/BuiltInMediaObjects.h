#pragma once
// The program's own media type, sample and memory buffer, for systems without Media
// Foundation. They do what the recorder and the built-in writer ask of them (typed
// attributes, one buffer per sample, sample time and duration) and answer E_NOTIMPL to the rest.
#include <windows.h>
#include "recording/mediafoundation/MediaFoundation.h"

HRESULT CreateBuiltInMediaType(IMFMediaType** type);
HRESULT CreateBuiltInMemoryBuffer(DWORD maxLength, IMFMediaBuffer** buffer);
HRESULT CreateBuiltInSample(IMFSample** sample);
