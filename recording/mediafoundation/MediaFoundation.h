#pragma once
// Media Foundation headers in the order MinGW-w64 10's headers need them: its mfreadwrite.h
// uses IMFMediaSink without including mfidl.h itself.
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mferror.h>
#include <mfreadwrite.h>
