#pragma once
// A counting stand-in for the platform's audio client and its capture client, for the loopback
// path Wine's driver refuses: 10 ms packets of a constant level (float, 48 kHz stereo) stamped on
// the performance counter, a step that fails on request, and a device lost after N packets.
#include "recording/audio/AudioCapture.h"

#include <mmreg.h>

#include <atomic>
#include <string>
#include <vector>

struct FakeAudioScript {
    std::string failStep;  // "Activate", "GetMixFormat", "Initialize", "GetService" or "Start"
    HRESULT failWith = E_FAIL;
    int loseAfterPackets = -1;
    float level = 0.25f;
    DWORD initializeFlags = 0;  // of the accepted Initialize
    std::atomic<int> packets{0};
    std::atomic<long> liveObjects{0};
};

class FakeAudioClient final : public IAudioClient, public IAudioCaptureClient {
public:
    static constexpr UINT32 kRate = 48000, kPacket = 480;
    explicit FakeAudioClient(FakeAudioScript& s) : s_(s), samples_(kPacket * 2, s.level) { ++s_.liveObjects; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == __uuidof(IAudioCaptureClient)) *out = static_cast<IAudioCaptureClient*>(this);
        else if (iid == __uuidof(IAudioClient) || iid == __uuidof(IUnknown)) *out = static_cast<IAudioClient*>(this);
        else return *out = nullptr, E_NOINTERFACE;
        return AddRef(), S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) --s_.liveObjects, delete this;
        return left;
    }
    STDMETHODIMP Initialize(AUDCLNT_SHAREMODE, DWORD flags, REFERENCE_TIME, REFERENCE_TIME, const WAVEFORMATEX*,
                            LPCGUID) override {
        if (flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) return AUDCLNT_E_UNSUPPORTED_FORMAT;  // polled, as old loopback
        return fail("Initialize", (s_.initializeFlags = flags, S_OK));
    }
    STDMETHODIMP GetMixFormat(WAVEFORMATEX** format) override {
        auto* f = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE)));
        static const GUID kFloat = {WAVE_FORMAT_IEEE_FLOAT, 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
        *f = {{WAVE_FORMAT_EXTENSIBLE, 2, kRate, kRate * 8, 8, 32, 22}, {32}, 3, kFloat};
        *format = &f->Format;
        return fail("GetMixFormat", S_OK);
    }
    STDMETHODIMP GetService(REFIID iid, void** out) override {
        const HRESULT hr = fail("GetService", S_OK);
        return FAILED(hr) ? hr : QueryInterface(iid, out);
    }
    STDMETHODIMP Start() override { return fail("Start", (start_ = PerformanceCounterNow100ns(), S_OK)); }
    STDMETHODIMP Stop() override { return S_OK; }
    STDMETHODIMP GetBufferSize(UINT32*) override { return E_NOTIMPL; }
    STDMETHODIMP GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
    STDMETHODIMP IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override { return E_NOTIMPL; }
    STDMETHODIMP GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    STDMETHODIMP Reset() override { return S_OK; }
    STDMETHODIMP SetEventHandle(HANDLE) override { return S_OK; }

    // A packet is due every 10 ms of the performance counter since Start.
    STDMETHODIMP GetNextPacketSize(UINT32* frames) override {
        if (s_.packets.load() == s_.loseAfterPackets) return AUDCLNT_E_DEVICE_INVALIDATED;
        *frames = PerformanceCounterNow100ns() - start_ >= due() ? kPacket : 0;
        return S_OK;
    }
    STDMETHODIMP GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position, UINT64* qpc) override {
        *data = reinterpret_cast<BYTE*>(samples_.data()), *frames = kPacket, *flags = 0;
        if (position) *position = UINT64(s_.packets.load()) * kPacket;
        if (qpc) *qpc = start_ + due();
        return S_OK;
    }
    STDMETHODIMP ReleaseBuffer(UINT32) override { return ++s_.packets, S_OK; }

private:
    ~FakeAudioClient() = default;
    int64_t due() const { return int64_t{s_.packets.load()} * kPacket * 10'000'000 / kRate; }
    HRESULT fail(const char* step, HRESULT otherwise) { return s_.failStep == step ? s_.failWith : otherwise; }

    FakeAudioScript& s_;
    std::vector<float> samples_;
    int64_t start_ = 0;
    std::atomic<ULONG> references_{1};
};

inline FakeAudioScript* fakeAudioScript = nullptr;
inline HRESULT ActivateFakeAudioClient(const SoundSource&, IAudioClient** client) {
    if (fakeAudioScript->failStep == "Activate") return fakeAudioScript->failWith;
    return *client = new FakeAudioClient(*fakeAudioScript), S_OK;
}
