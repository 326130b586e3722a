// Recorder::captureFrame and ReleaseGrabSurface, one video frame: the capture rectangle copied from
// the screen straight into the recording's DIB section, the cursor drawn in, and its bottom-up
// pixels written as one timed sample.
#include "recording/mediafoundation/BuiltInMediaObjects.h"
#include "recording/mediafoundation/MediaFoundationApi.h"
#include "recording/Recorder.h"
#include "recording/RecordingFormat.h"
#include "recording/ScreenPixels.h"
#include "common/Result.h"

#include <cstring>

namespace {

// Draws the cursor with its hot spot on the pointer when the hot spot lies inside the frame.
void DrawCursor(const Recorder& r) {
    CURSORINFO info{};
    info.cbSize = sizeof(info);
    if (!GetCursorInfo(&info)) return;
    if (info.flags != CURSOR_SHOWING) return;
    // Physical pixels like the frame, also where this thread could not be made DPI aware.
    const LONG dx = SeenToPhysical(info.ptScreenPos.x, r.seenScreen.width, r.physicalScreen.width) - r.captureX;
    const LONG dy = SeenToPhysical(info.ptScreenPos.y, r.seenScreen.height, r.physicalScreen.height) - r.captureY;
    if (dx < 0 || dx >= r.frameWidth || dy < 0 || dy >= r.frameHeight) return;
    ICONINFO icon{};
    if (!GetIconInfo(info.hCursor, &icon)) return;
    // GetIconInfo hands us two bitmaps to delete.
    UniqueBitmap mask(icon.hbmMask);
    UniqueBitmap colour(icon.hbmColor);
    DrawIconEx(r.memoryDC.get(), dx - static_cast<LONG>(icon.xHotspot), dy - static_cast<LONG>(icon.yHotspot),
               info.hCursor, 0, 0, 0, nullptr, DI_NORMAL);
}

// Copies what of the capture rectangle lies on the desktop (a selection may reach past the primary
// screen onto no monitor at all) and blacks out the rest: a copy from beyond the desktop comes out
// black as a whole on some systems instead of only where there is nothing.
bool GrabScreen(const Recorder& r) {
    const RECT wanted{r.captureX, r.captureY, r.captureX + r.frameWidth, r.captureY + r.frameHeight};
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const RECT desktop{left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    RECT shown{};
    if (!IntersectRect(&shown, &wanted, &desktop) || !EqualRect(&shown, &wanted)) {
        if (!PatBlt(r.memoryDC.get(), 0, 0, r.frameWidth, r.frameHeight, BLACKNESS)) return false;
        if (IsRectEmpty(&shown)) return true;
    }
    return BitBlt(r.memoryDC.get(), shown.left - r.captureX, shown.top - r.captureY, shown.right - shown.left,
                  shown.bottom - shown.top, r.screenDC.get(), shown.left, shown.top, SRCCOPY);
}

// The screen DC, a memory DC and a DIB section of the frame's size selected into it. The
// memory DC's own 1x1 bitmap is not kept: deleting the DC lets go of whatever it holds.
HRESULT OpenGrabSurface(Recorder& r) {
    r.bitmapInfo.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    r.bitmapInfo.bmiHeader.biWidth = r.frameWidth;
    r.bitmapInfo.bmiHeader.biHeight = r.frameHeight;  // positive: rows bottom-up
    r.bitmapInfo.bmiHeader.biPlanes = 1;
    r.bitmapInfo.bmiHeader.biBitCount = 32;
    r.bitmapInfo.bmiHeader.biCompression = BI_RGB;
    r.screenDC.reset(GetDC(nullptr));
    if (!r.screenDC) return E_FAIL;
    r.memoryDC.reset(CreateCompatibleDC(r.screenDC.get()));
    void* bits = nullptr;
    if (r.memoryDC)
        r.frameBitmap.reset(CreateDIBSection(r.screenDC.get(), &r.bitmapInfo, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!r.frameBitmap || !SelectObject(r.memoryDC.get(), r.frameBitmap.get())) {
        ReleaseGrabSurface(r);
        return E_FAIL;
    }
    r.frameBits = static_cast<BYTE*>(bits);
    r.seenScreen = SeenScreenSize();
    r.physicalScreen = PhysicalScreenSize();
    return S_OK;
}

HRESULT MakeSample(Recorder& r, DWORD length, int64_t sampleTime, ComRef<IMFSample>& sample) {
    ComRef<IMFMediaBuffer> buffer;
    if (r.writerCopiesFrame) {
        ZV_RETURN_IF_FAILED(CreateBuiltInBufferOver(r.frameBits, length, buffer.put()));
        ZV_RETURN_IF_FAILED(CreateBuiltInSample(sample.put()));
    } else {
        // The platform's writer may still hold the sample when the next grab draws.
        ZV_RETURN_IF_FAILED(NewMemoryBuffer(length, buffer.put()));
        BYTE* target = nullptr;
        ZV_RETURN_IF_FAILED(buffer->Lock(&target, nullptr, nullptr));
        std::memcpy(target, r.frameBits, length);
        buffer->Unlock();
        ZV_RETURN_IF_FAILED(NewSample(sample.put()));
    }
    ZV_RETURN_IF_FAILED(buffer->SetCurrentLength(length));
    ZV_RETURN_IF_FAILED(sample->AddBuffer(buffer.get()));
    ZV_RETURN_IF_FAILED(sample->SetSampleTime(sampleTime));
    return sample->SetSampleDuration(kFrameDuration100ns);
}

HRESULT WriteFrameSample(Recorder& r, int64_t sampleTime) {
    const DWORD length = static_cast<DWORD>(r.frameWidth) * static_cast<DWORD>(r.frameHeight) * 4u;
    ComRef<IMFSample> sample;
    ZV_RETURN_IF_FAILED(MakeSample(r, length, sampleTime, sample));
    std::lock_guard<std::mutex> guard(r.writerLock);
    // stop() takes the writer away once it stops waiting for us; then the frame is dropped.
    if (!r.sinkWriter) return MF_E_SHUTDOWN;
    const HRESULT written = r.sinkWriter->WriteSample(r.streamIndex, sample.get());
    if (SUCCEEDED(written)) r.videoEnd100ns = sampleTime + kFrameDuration100ns;
    // The first failing write ends the recording (the worker sees it after this grab).
    HRESULT none = S_OK;
    if (FAILED(written)) r.writerFailure.compare_exchange_strong(none, written);
    return written;
}

}  // namespace

HRESULT Recorder::captureFrame(int64_t sampleTime) {
    if (!memoryDC) ZV_RETURN_IF_FAILED(OpenGrabSurface(*this));
    if (!GrabScreen(*this)) return E_FAIL;
    DrawCursor(*this);
    // GDI may batch its drawing; the bits are read directly from here on.
    GdiFlush();
    return WriteFrameSample(*this, sampleTime);
}

void ReleaseGrabSurface(Recorder& r) {
    r.frameBits = nullptr;
    r.memoryDC.reset();  // first: the DIB section cannot be deleted while selected into it
    r.frameBitmap.reset();
    r.screenDC.reset();
}
