// Recorder::captureFrame, one video frame: the capture rectangle copied from the screen, the
// cursor drawn in, the pixels read back bottom-up and written as one timed sample.
#include "recording/mediafoundation/MediaFoundationApi.h"
#include "recording/Recorder.h"
#include "recording/RecordingFormat.h"

#include "common/Result.h"
#include "common/WinHandles.h"

#include <cstring>
#include <memory>

namespace {

// Draws the cursor with its hot spot on the pointer when the hot spot lies inside the frame.
void DrawCursor(HDC target, int32_t originX, int32_t originY, int32_t width, int32_t height) {
    CURSORINFO info{};
    info.cbSize = sizeof(info);
    if (!GetCursorInfo(&info)) return;
    if (info.flags != CURSOR_SHOWING) return;
    const LONG dx = info.ptScreenPos.x - originX;
    const LONG dy = info.ptScreenPos.y - originY;
    if (dx < 0 || dx >= width || dy < 0 || dy >= height) return;
    ICONINFO icon{};
    if (!GetIconInfo(info.hCursor, &icon)) return;
    // GetIconInfo hands us two bitmaps to delete.
    UniqueBitmap mask(icon.hbmMask);
    UniqueBitmap colour(icon.hbmColor);
    DrawIconEx(target, dx - static_cast<LONG>(icon.xHotspot), dy - static_cast<LONG>(icon.yHotspot),
               info.hCursor, 0, 0, 0, nullptr, DI_NORMAL);
}

HRESULT WriteFrameSample(Recorder& r, const BYTE* pixels, DWORD length, int64_t sampleTime) {
    ComRef<IMFMediaBuffer> buffer;
    ZV_RETURN_IF_FAILED(NewMemoryBuffer(length, buffer.put()));
    BYTE* target = nullptr;
    ZV_RETURN_IF_FAILED(buffer->Lock(&target, nullptr, nullptr));
    std::memcpy(target, pixels, length);
    buffer->Unlock();
    ZV_RETURN_IF_FAILED(buffer->SetCurrentLength(length));
    ComRef<IMFSample> sample;
    ZV_RETURN_IF_FAILED(NewSample(sample.put()));
    ZV_RETURN_IF_FAILED(sample->AddBuffer(buffer.get()));
    ZV_RETURN_IF_FAILED(sample->SetSampleTime(sampleTime));
    ZV_RETURN_IF_FAILED(sample->SetSampleDuration(kFrameDuration100ns));
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
    Sleep(1);
    WindowDc screen(nullptr);
    screenDC = screen.get();
    if (!screen) return E_FAIL;
    UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    memoryDC = memory.get();
    if (!memory) return E_FAIL;
    UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), frameWidth, frameHeight));
    frameBitmap = bitmap.get();
    if (!bitmap) return E_FAIL;
    {
        SelectedObject selected(memory.get(), bitmap.get());
        if (!BitBlt(memory.get(), 0, 0, frameWidth, frameHeight, screen.get(), captureX, captureY, SRCCOPY))
            return E_FAIL;
        DrawCursor(memory.get(), captureX, captureY, frameWidth, frameHeight);
    }  // deselected here: GetDIBits must not read a bitmap that is selected into a DC

    bitmapInfo.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bitmapInfo.bmiHeader.biWidth = frameWidth;
    bitmapInfo.bmiHeader.biHeight = frameHeight;
    bitmapInfo.bmiHeader.biPlanes = 1;
    bitmapInfo.bmiHeader.biBitCount = 32;
    bitmapInfo.bmiHeader.biCompression = BI_RGB;

    const DWORD length = static_cast<DWORD>(frameWidth) * static_cast<DWORD>(frameHeight) * 4u;
    // Zeroed so a failed read-back gives a black frame rather than stale heap contents.
    std::unique_ptr<BYTE[]> pixels(new BYTE[length]());
    GetDIBits(memory.get(), bitmap.get(), 0, static_cast<UINT>(frameHeight), pixels.get(), &bitmapInfo,
              DIB_RGB_COLORS);
    return WriteFrameSample(*this, pixels.get(), length, sampleTime);
}
