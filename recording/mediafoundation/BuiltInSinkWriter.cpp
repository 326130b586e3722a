#include "recording/mediafoundation/BuiltInSinkWriter.h"

#include "common/ComRef.h"
#include "common/Result.h"
#include "common/WinHandles.h"
#include "recording/writer/VideoFileWriter.h"


#include <atomic>
#include <filesystem>
#include <new>
#include <string>

namespace {

// A sample's time and its bytes, locked in one contiguous buffer; the caller unlocks `buffer`.
HRESULT LockSample(IMFSample* sample, LONGLONG& time, ComRef<IMFMediaBuffer>& buffer, BYTE*& bytes, DWORD& length) {
    ZV_RETURN_IF_FAILED(sample->GetSampleTime(&time));
    ZV_RETURN_IF_FAILED(sample->ConvertToContiguousBuffer(buffer.put()));
    return buffer->Lock(&bytes, nullptr, &length);
}

struct StreamFormat {
    UINT32 width = 0;
    UINT32 height = 0;
    UINT32 bitrate = 0;
    int64_t frameDuration100ns = 0;
};

HRESULT ReadFrameSize(IMFMediaType* type, StreamFormat& format) {
    UINT64 packed = 0;
    ZV_RETURN_IF_FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &packed));
    format.width = static_cast<UINT32>(packed >> 32);
    format.height = static_cast<UINT32>(packed);
    return S_OK;
}

HRESULT CheckSubtype(IMFMediaType* type, const GUID& expected, const GUID& expectedMajor = MFMediaType_Video) {
    GUID major{}, subtype{};
    ZV_RETURN_IF_FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major));
    ZV_RETURN_IF_FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype));
    return (major == expectedMajor && subtype == expected) ? S_OK : MF_E_INVALIDMEDIATYPE;
}

// The one sound format the file layer takes: AAC made from 16-bit PCM, 48 kHz stereo.
HRESULT CheckSound(IMFMediaType* type, const GUID& subtype) {
    ZV_RETURN_IF_FAILED(CheckSubtype(type, subtype, MFMediaType_Audio));
    UINT32 rate = 0, channels = 0, bits = 0;
    ZV_RETURN_IF_FAILED(type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate));
    ZV_RETURN_IF_FAILED(type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels));
    ZV_RETURN_IF_FAILED(type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits));
    return rate == 48'000 && channels == 2 && bits == 16 ? S_OK : MF_E_INVALIDMEDIATYPE;
}

// The file layer's failure as the platform's writer would report it, so the reasons shown to
// the user read the same for both writers.
HRESULT FailureResult(WriterFailure failure) {
    switch (failure) {
    case WriterFailure::DiskFull: return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case WriterFailure::Unreachable: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case WriterFailure::Encoder: return kEncoderFailed;
    case WriterFailure::None: break;
    }
    return E_FAIL;
}

class BuiltInSinkWriter final : public CountedObject<IMFSinkWriter> {
public:
    explicit BuiltInSinkWriter(std::wstring path) : path_(std::move(path)) {}

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        return QuerySingleInterface<IMFSinkWriter>(this, iid, object);
    }

    // IMFSinkWriter
    STDMETHODIMP AddStream(IMFMediaType* type, DWORD* index) override {
        if (!type || !index) return E_POINTER;
        if (writing_ || soundAdded_) return MF_E_INVALIDREQUEST;  // one video stream, then one sound stream
        if (streamAdded_) {
            ZV_RETURN_IF_FAILED(CheckSound(type, MFAudioFormat_AAC));
            soundAdded_ = true;
            *index = kSoundStream;
            return S_OK;
        }
        ZV_RETURN_IF_FAILED(CheckSubtype(type, MFVideoFormat_H264));
        ZV_RETURN_IF_FAILED(ReadFrameSize(type, output_));
        // Rate and bitrate come from the caller, as the platform's writer takes them.
        UINT64 rate = 0;
        ZV_RETURN_IF_FAILED(type->GetUINT64(MF_MT_FRAME_RATE, &rate));
        const UINT64 perSecond = rate >> 32, per = rate & 0xFFFFFFFFu;
        ZV_RETURN_IF_FAILED(type->GetUINT32(MF_MT_AVG_BITRATE, &output_.bitrate));
        if (perSecond == 0 || per == 0 || output_.bitrate == 0) return MF_E_INVALIDMEDIATYPE;
        output_.frameDuration100ns = static_cast<int64_t>(10'000'000 * per / perSecond);
        streamAdded_ = true;
        *index = 0;
        return S_OK;
    }
    STDMETHODIMP SetInputMediaType(DWORD index, IMFMediaType* type, IMFAttributes*) override {
        if (!type) return E_POINTER;
        if (soundAdded_ && index == kSoundStream) {
            ZV_RETURN_IF_FAILED(CheckSound(type, MFAudioFormat_PCM));
            soundInputSet_ = true;
            return S_OK;
        }
        if (!streamAdded_ || index != 0) return MF_E_INVALIDSTREAMNUMBER;
        ZV_RETURN_IF_FAILED(CheckSubtype(type, MFVideoFormat_RGB32));
        StreamFormat input;
        ZV_RETURN_IF_FAILED(ReadFrameSize(type, input));
        // Nothing is scaled: the input frames must have the encoded size.
        if (input.width != output_.width || input.height != output_.height) return MF_E_INVALIDMEDIATYPE;
        inputSet_ = true;
        return S_OK;
    }
    STDMETHODIMP BeginWriting() override {
        if (!inputSet_ || soundAdded_ != soundInputSet_ || writing_) return MF_E_INVALIDREQUEST;
        VideoFileWriterConfig config;
        config.width = static_cast<int>(output_.width);
        config.height = static_cast<int>(output_.height);
        config.bitrate = output_.bitrate;
        config.frameDuration100ns = output_.frameDuration100ns;
        config.audio = soundAdded_;
        if (!file_.open(std::filesystem::path(path_), config)) return MF_E_INVALIDMEDIATYPE;
        // The sound encoder refused: no sound stream rather than a file that lacks one silently.
        if (soundAdded_ && !file_.hasAudio()) return MF_E_INVALIDMEDIATYPE;
        writing_ = true;
        return S_OK;
    }
    STDMETHODIMP WriteSample(DWORD index, IMFSample* sample) override {
        if (!sample) return E_POINTER;
        if (index != 0 && !(soundAdded_ && index == kSoundStream)) return MF_E_INVALIDSTREAMNUMBER;
        if (!writing_ || finalized_) return MF_E_INVALIDREQUEST;
        if (index == kSoundStream) return writeSound(sample);
        LONGLONG time = 0;
        ComRef<IMFMediaBuffer> buffer;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        ZV_RETURN_IF_FAILED(LockSample(sample, time, buffer, bytes, length));
        const size_t expected = size_t{output_.width} * output_.height * 4;
        const bool written = length == expected && file_.writeFrame(bytes, length, time);
        buffer->Unlock();
        if (length != expected) return MF_E_INVALIDMEDIATYPE;
        return written ? S_OK : FailureResult(file_.failure());
    }
    STDMETHODIMP SendStreamTick(DWORD, LONGLONG) override { return S_OK; }
    STDMETHODIMP PlaceMarker(DWORD, void*) override { return E_NOTIMPL; }
    STDMETHODIMP NotifyEndOfSegment(DWORD) override { return S_OK; }
    STDMETHODIMP Flush(DWORD) override { return S_OK; }
    STDMETHODIMP Finalize() override {
        if (!writing_ || finalized_) return MF_E_INVALIDREQUEST;
        finalized_ = true;
        return file_.finalize() ? S_OK : FailureResult(file_.failure());
    }
    STDMETHODIMP GetServiceForStream(DWORD, REFGUID, REFIID, void** object) override {
        if (object) *object = nullptr;
        return MF_E_UNSUPPORTED_SERVICE;
    }
    STDMETHODIMP GetStatistics(DWORD, MF_SINK_WRITER_STATISTICS*) override { return E_NOTIMPL; }

private:
    static constexpr DWORD kSoundStream = 1;
    ~BuiltInSinkWriter() = default;

    HRESULT writeSound(IMFSample* sample) {
        LONGLONG time = 0;
        ComRef<IMFMediaBuffer> buffer;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        ZV_RETURN_IF_FAILED(LockSample(sample, time, buffer, bytes, length));
        const bool written = file_.writeAudio(reinterpret_cast<const int16_t*>(bytes), length / 4, time);
        buffer->Unlock();
        if (written) return S_OK;
        return file_.failure() != WriterFailure::None ? FailureResult(file_.failure()) : MF_E_NOTACCEPTING;
    }

    std::wstring path_;
    StreamFormat output_;
    bool streamAdded_ = false;
    bool inputSet_ = false;
    bool soundAdded_ = false;
    bool soundInputSet_ = false;
    bool writing_ = false;
    bool finalized_ = false;
    VideoFileWriter file_;
};

}  // namespace

HRESULT CreateBuiltInSinkWriter(const wchar_t* path, IMFSinkWriter** writer) {
    if (!path || !writer) return E_POINTER;
    *writer = nullptr;
    // Like the platform's writer, creating it creates the file: a missing folder fails here.
    UniqueFile probe(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe) return HRESULT_FROM_WIN32(GetLastError());
    probe.reset();
    auto* created = new (std::nothrow) BuiltInSinkWriter(path);
    if (!created) return E_OUTOFMEMORY;
    *writer = created;
    return S_OK;
}
