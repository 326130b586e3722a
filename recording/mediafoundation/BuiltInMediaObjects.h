#pragma once
// The program's own media type, sample and memory buffer, for systems without Media
// Foundation. They do what the recorder and the built-in writer ask of them (typed
// attributes, one buffer per sample, sample time and duration) and answer E_NOTIMPL to the rest.
#include <windows.h>
#include "recording/mediafoundation/MediaFoundation.h"

HRESULT CreateBuiltInMediaType(IMFMediaType** type);
HRESULT CreateBuiltInMemoryBuffer(DWORD maxLength, IMFMediaBuffer** buffer);
// A buffer over `length` bytes it does not own (its current length is 0 until set), for a
// writer that is done with the bytes when WriteSample returns; the owner keeps them alive.
HRESULT CreateBuiltInBufferOver(BYTE* bytes, DWORD length, IMFMediaBuffer** buffer);
HRESULT CreateBuiltInSample(IMFSample** sample);
