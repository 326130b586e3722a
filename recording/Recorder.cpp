// Recorder: construction, destruction and setupSinkWriter (the sink writer and its media types).
#include "recording/Recorder.h"

#include "common/Result.h"
#include "recording/mediafoundation/MediaFoundationApi.h"
#include "recording/mediafoundation/SinkWriterFactory.h"
#include "recording/RecordingFormat.h"
#include "recording/ScreenPixels.h"


namespace {

constexpr UINT64 kFrameRate = (UINT64{kFramesPerSecond} << 32) | 1;
constexpr UINT64 kSquarePixels = (UINT64{1} << 32) | 1;

UINT64 PackFrameSize(int32_t width, int32_t height) {
    return (UINT64{static_cast<UINT32>(width)} << 32) | static_cast<UINT32>(height);
}

// Interlace mode, frame size, frame rate and pixel aspect: the same on both media types.
HRESULT SetFrameGeometry(IMFMediaType* type, int32_t width, int32_t height) {
    ZV_RETURN_IF_FAILED(type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive));
    ZV_RETURN_IF_FAILED(type->SetUINT64(MF_MT_FRAME_SIZE, PackFrameSize(width, height)));
    ZV_RETURN_IF_FAILED(type->SetUINT64(MF_MT_FRAME_RATE, kFrameRate));
    return type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, kSquarePixels);
}

HRESULT MakeVideoType(const GUID& subtype, ComRef<IMFMediaType>& type) {
    ZV_RETURN_IF_FAILED(NewMediaType(type.put()));
    ZV_RETURN_IF_FAILED(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
    return type->SetGUID(MF_MT_SUBTYPE, subtype);
}

HRESULT MakeOutputType(int32_t width, int32_t height, ComRef<IMFMediaType>& type) {
    ZV_RETURN_IF_FAILED(MakeVideoType(MFVideoFormat_H264, type));
    ZV_RETURN_IF_FAILED(type->SetUINT32(MF_MT_AVG_BITRATE, kTargetBitrate));
    return SetFrameGeometry(type.get(), width, height);
}

// No bit rate and no stride: the rows arrive bottom-up, as RGB32 without a stride means.
HRESULT MakeInputType(int32_t width, int32_t height, ComRef<IMFMediaType>& type) {
    ZV_RETURN_IF_FAILED(MakeVideoType(MFVideoFormat_RGB32, type));
    return SetFrameGeometry(type.get(), width, height);
}

// 48 kHz stereo, 16 bits a sample: the AAC the file gets and the PCM the recorder gives.
HRESULT MakeSoundType(const GUID& subtype, UINT32 bytesPerSecond, ComRef<IMFMediaType>& type) {
    ZV_RETURN_IF_FAILED(NewMediaType(type.put()));
    ZV_RETURN_IF_FAILED(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio));
    ZV_RETURN_IF_FAILED(type->SetGUID(MF_MT_SUBTYPE, subtype));
    ZV_RETURN_IF_FAILED(type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, kSoundRate));
    ZV_RETURN_IF_FAILED(type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, kSoundChannels));
    ZV_RETURN_IF_FAILED(type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16));
    if (subtype == MFAudioFormat_PCM) ZV_RETURN_IF_FAILED(type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, kSoundChannels * 2));
    return type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, bytesPerSecond);
}

HRESULT AddStream(IMFSinkWriter* writer, const ComRef<IMFMediaType>& output, const ComRef<IMFMediaType>& input,
                  DWORD& index) {
    ZV_RETURN_IF_FAILED(writer->AddStream(output.get(), &index));
    return writer->SetInputMediaType(index, input.get(), nullptr);
}

// One attempt with one source of writers; on failure everything it made is released.
HRESULT OpenWriter(CreateSinkWriterFn create, const std::wstring& path, int32_t width, int32_t height,
                   bool withSound, ComRef<IMFSinkWriter>& writer, DWORD& streamIndex, DWORD& soundIndex) {
    ZV_RETURN_IF_FAILED(create(path.c_str(), writer.put()));
    ComRef<IMFMediaType> outputType, inputType;
    ZV_RETURN_IF_FAILED(MakeOutputType(width, height, outputType));
    ZV_RETURN_IF_FAILED(MakeInputType(width, height, inputType));
    ZV_RETURN_IF_FAILED(AddStream(writer.get(), outputType, inputType, streamIndex));
    if (withSound) {
        ZV_RETURN_IF_FAILED(MakeSoundType(MFAudioFormat_AAC, kSoundBytesPerSecond, outputType));
        ZV_RETURN_IF_FAILED(MakeSoundType(MFAudioFormat_PCM, kSoundRate * kSoundChannels * 2, inputType));
        ZV_RETURN_IF_FAILED(AddStream(writer.get(), outputType, inputType, soundIndex));
    }
    return writer->BeginWriting();
}

}  // namespace

Recorder::Recorder() {
    const ScreenSize screen = PhysicalScreenSize();
    frameWidth = screen.width;
    frameHeight = screen.height;
    // Undo only what succeeded: S_FALSE (already initialised) still needs its CoUninitialize.
    comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    const MediaFoundationApi& mf = MediaFoundation();
    mediaStarted_ = mf.present() && SUCCEEDED(mf.startup(MF_VERSION, MFSTARTUP_FULL));
    ZeroMemory(&bitmapInfo, sizeof(bitmapInfo));
}

Recorder::~Recorder() {
    stop();
    // A worker that stop() had to leave behind inside a long grab still reads this object,
    // so the memory may not go before it has left (DiscardRecorder is the bounded way out).
    WaitForWorker(*this, INFINITE);
    ReleaseGrabSurface(*this);  // grabs made without a worker (tests, benchmarks)
    if (mediaStarted_) MediaFoundation().shutdown();
    if (comInitialized_) CoUninitialize();
}

HRESULT Recorder::setupSinkWriter(bool withSound) {
    const SinkWriterFactories& factories = sinkWriterFactories;
    ComRef<IMFSinkWriter> writer;
    DWORD index = 0, soundIndex = 0;
    // Without Media Foundation the platform has no writer to offer: straight to our own.
    HRESULT hr = MF_E_PLATFORM_NOT_INITIALIZED;
    if (MediaFoundation().present())
        hr = OpenWriter(factories.platform, outputPath, frameWidth, frameHeight, withSound, writer, index, soundIndex);
    writerCopiesFrame = FAILED(hr) && factories.builtIn;
    if (writerCopiesFrame) {
        // The platform could not give us an H.264 MP4 writer (Wine, editions without the media
        // features, no encoder): let go of what it made and use the program's own writer.
        writer.reset();
        index = soundIndex = 0;
        hr = OpenWriter(factories.builtIn, outputPath, frameWidth, frameHeight, withSound, writer, index, soundIndex);
    }
    streamIndex = index;
    soundStreamIndex = soundIndex;
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> guard(writerLock);
    sinkWriter = std::move(writer);
    return hr;
}
