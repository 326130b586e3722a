#include "recording/audio/AudioCapture.h"

#include "common/Result.h"

#include <mmdeviceapi.h>
#include <mmreg.h>

#include <algorithm>
#include <system_error>
#include <utility>

namespace {

// Room for a capture thread that a busy machine holds up: under a second late, nothing is lost.
constexpr REFERENCE_TIME kBuffer100ns = 10'000'000;
constexpr DWORD kPollMs = 10;
// Event-driven loopback gets no events while nothing plays; waking now and then still lets
// the track go on with silence and notices a lost device.
constexpr DWORD kEventWaitMs = 50;

// The format tag of a plain or extensible format; 0 for a sub-format that is not a wave tag.
WORD WaveFormatTag(const WAVEFORMATEX& format) {
    if (format.wFormatTag != WAVE_FORMAT_EXTENSIBLE) return format.wFormatTag;
    if (format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) return 0;
    // The wave sub-formats are {tag-0000-0010-8000-00AA00389B71}.
    static const GUID kWaveBase = {0, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    GUID subFormat = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format).SubFormat;
    const DWORD tag = std::exchange(subFormat.Data1, 0);
    return (subFormat == kWaveBase && tag <= 0xFFFF) ? static_cast<WORD>(tag) : 0;
}

HRESULT ReadCaptureFormat(const WAVEFORMATEX& format, CaptureFormat& out) {
    const WORD tag = WaveFormatTag(format);
    WORD valid = format.wBitsPerSample;
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        const WORD given = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format).Samples.wValidBitsPerSample;
        if (given) valid = given;
    }
    if (tag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32)
        out.sound.format = zv::audio::SampleFormat::Float32;
    else if (tag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16)
        out.sound.format = zv::audio::SampleFormat::Int16;
    else if (tag == WAVE_FORMAT_PCM && format.wBitsPerSample == 32)
        out.sound.format = valid == 24 ? zv::audio::SampleFormat::Int24In32 : zv::audio::SampleFormat::Int32;
    else
        return AUDCLNT_E_UNSUPPORTED_FORMAT;
    if (format.nChannels < 1 || format.nChannels > 8 || format.nSamplesPerSec == 0) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    out.sound.rate = static_cast<int>(format.nSamplesPerSec);
    out.sound.channels = format.nChannels;
    out.bytesPerFrame = format.nBlockAlign;
    return S_OK;
}

struct CoTaskMemFormat {
    WAVEFORMATEX* format = nullptr;
    ~CoTaskMemFormat() { CoTaskMemFree(format); }
};

// Activates and initialises one client, event-driven or polled.
HRESULT InitializeClient(const SoundSource& source, bool eventDriven, ComRef<IAudioClient>& client,
                         CaptureFormat& format, int64_t& bufferLength) {
    ZV_RETURN_IF_FAILED(activateAudioClient(source, client.put()));
    ZV_RETURN_HR_IF_NULL(E_POINTER, client.get());
    CoTaskMemFormat mix;
    ZV_RETURN_IF_FAILED(client->GetMixFormat(&mix.format));
    ZV_RETURN_HR_IF_NULL(AUDCLNT_E_UNSUPPORTED_FORMAT, mix.format);
    ZV_RETURN_IF_FAILED(ReadCaptureFormat(*mix.format, format));
    DWORD flags = eventDriven ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0;
    if (source.kind == SoundSourceKind::SystemSound) flags |= AUDCLNT_STREAMFLAGS_LOOPBACK;
    ZV_RETURN_IF_FAILED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, kBuffer100ns, 0, mix.format, nullptr));
    // The client may round the length up; a frame can be delivered as late as that.
    UINT32 bufferFrames = 0;
    const int64_t granted = SUCCEEDED(client->GetBufferSize(&bufferFrames))
                                ? static_cast<int64_t>(bufferFrames) * 10'000'000 / format.sound.rate : 0;
    bufferLength = std::max<int64_t>(granted, kBuffer100ns);
    return S_OK;
}

HRESULT OpenClient(AudioCapture& c, const SoundSource& source) {
    if (source.kind == SoundSourceKind::None) return E_INVALIDARG;
    // Not every device (nor every Windows for loopback) signals buffers: those are polled.
    if (FAILED(InitializeClient(source, true, c.client, c.format, c.bufferLength100ns))) {
        c.client.reset();
        ZV_RETURN_IF_FAILED(InitializeClient(source, false, c.client, c.format, c.bufferLength100ns));
    } else {
        c.bufferEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        ZV_RETURN_IF_WIN32_FALSE(c.bufferEvent);
        ZV_RETURN_IF_FAILED(c.client->SetEventHandle(c.bufferEvent.get()));
    }
    c.stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ZV_RETURN_IF_WIN32_FALSE(c.stopEvent);
    ZV_RETURN_IF_FAILED(c.client->GetService(IID_PPV_ARGS(c.captureClient.put())));
    return S_OK;
}

// Every packet waiting; the first failure ends the capture (the device is gone).
HRESULT DrainPackets(AudioCapture& c, int& delivered) {
    for (;;) {
        UINT32 waiting = 0;
        ZV_RETURN_IF_FAILED(c.captureClient->GetNextPacketSize(&waiting));
        if (waiting == 0) return S_OK;
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 devicePosition = 0, qpcPosition = 0;
        const HRESULT got = c.captureClient->GetBuffer(&data, &frames, &flags, &devicePosition, &qpcPosition);
        ZV_RETURN_IF_FAILED(got);
        if (got == AUDCLNT_S_BUFFER_EMPTY) return S_OK;
        CapturedPacket packet;
        packet.silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || !data;
        packet.data = packet.silent ? nullptr : data;
        packet.frames = frames;
        packet.time100ns = c.stamps.stamp(devicePosition, static_cast<int64_t>(qpcPosition), c.format.sound.rate);
        packet.discontinuity = (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0;
        if (frames > 0 && c.callbacks.packet) c.callbacks.packet(packet), ++delivered;
        ZV_RETURN_IF_FAILED(c.captureClient->ReleaseBuffer(frames));
    }
}

// The multimedia class scheduler raises the thread's priority for audio; loaded at run time,
// as avrt.dll is missing or a stub on some systems.
struct SchedulerRegistration {
    using SetFn = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
    using RevertFn = BOOL(WINAPI*)(HANDLE);
    HMODULE library = LoadLibraryExW(L"avrt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    HANDLE task = nullptr;
    RevertFn revert = nullptr;

    HRESULT registerThread() {
        ZV_RETURN_IF_WIN32_FALSE(library);
        auto set = reinterpret_cast<SetFn>(reinterpret_cast<void*>(GetProcAddress(library, "AvSetMmThreadCharacteristicsW")));
        revert = reinterpret_cast<RevertFn>(reinterpret_cast<void*>(GetProcAddress(library, "AvRevertMmThreadCharacteristics")));
        ZV_RETURN_IF_WIN32_FALSE(set && revert);
        DWORD taskIndex = 0;
        task = set(L"Audio", &taskIndex);
        ZV_RETURN_IF_WIN32_FALSE(task);
        return S_OK;
    }
    ~SchedulerRegistration() {
        if (task) revert(task);
        if (library) FreeLibrary(library);
    }
};

void CaptureThread(AudioCapture* c) {
    const bool comInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    {
        SchedulerRegistration scheduler;
        c->schedulerResult = scheduler.registerThread();
        const HANDLE waits[] = {c->stopEvent.get(), c->bufferEvent.get()};
        const DWORD waitCount = c->bufferEvent ? 2 : 1;
        const DWORD waitMs = c->bufferEvent ? kEventWaitMs : kPollMs;  // polled: every 10 ms
        bool gone = false;
        int delivered = 0;
        for (;;) {
            const bool stopping = WaitForMultipleObjects(waitCount, waits, FALSE, waitMs) == WAIT_OBJECT_0;
            // At the stop too: what was captured before it still belongs to the recording.
            const HRESULT drained = gone ? S_OK : DrainPackets(*c, delivered);
            if (FAILED(drained)) {
                gone = true;
                if (c->callbacks.lost) c->callbacks.lost(PerformanceCounterNow100ns(), drained);
            }
            if (stopping) break;
            if (delivered == 0 && c->callbacks.idle) c->callbacks.idle(PerformanceCounterNow100ns() - c->bufferLength100ns);
            delivered = 0;
        }
    }
    if (comInitialized) CoUninitialize();
}

}  // namespace

int64_t PacketStamps::stamp(uint64_t devicePosition, int64_t qpc100ns, int rate) {
    const int64_t positionTime = static_cast<int64_t>(devicePosition) / rate * 10'000'000 +
                                 static_cast<int64_t>(devicePosition) % rate * 10'000'000 / rate;
    offsets[count++ % kWindow] = qpc100ns - positionTime;
    return positionTime + *std::min_element(offsets, offsets + std::min(count, kWindow));
}

HRESULT ActivatePlatformAudioClient(const SoundSource& source, IAudioClient** client) {
    ComRef<IMMDeviceEnumerator> enumerator;
    ZV_RETURN_IF_FAILED(
        CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(enumerator.put())));
    ComRef<IMMDevice> device;
    if (source.kind == SoundSourceKind::SystemSound)
        ZV_RETURN_IF_FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put()));
    else
        ZV_RETURN_IF_FAILED(enumerator->GetDevice(source.endpointId.c_str(), device.put()));
    DWORD state = 0;
    ZV_RETURN_IF_FAILED(device->GetState(&state));
    if (state != DEVICE_STATE_ACTIVE) return AUDCLNT_E_DEVICE_INVALIDATED;
    return device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(client));
}

ActivateAudioClientFn activateAudioClient = ActivatePlatformAudioClient;

HRESULT StartAudioCapture(AudioCapture& c, const SoundSource& source, AudioCaptureCallbacks callbacks) {
    StopAudioCapture(c);
    c.stamps = {};
    HRESULT hr = OpenClient(c, source);
    if (SUCCEEDED(hr)) hr = c.client->Start();
    if (SUCCEEDED(hr)) {
        c.started = true;
        c.callbacks = std::move(callbacks);
        try {
            c.thread = std::thread(CaptureThread, &c);
        } catch (const std::system_error&) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (FAILED(hr)) StopAudioCapture(c);
    return hr;
}

void StopAudioCapture(AudioCapture& c) {
    if (c.thread.joinable()) {
        SetEvent(c.stopEvent.get());
        c.thread.join();
    }
    // The device stops before its clients go, as the platform's samples do.
    if (c.started) c.client->Stop();
    c.started = false;
    c.captureClient.reset();
    c.client.reset();
    c.bufferEvent.reset();
    c.stopEvent.reset();
    c.callbacks = {};
}

int64_t PerformanceCounter100ns(int64_t counter, int64_t frequency) {
    // Split so counter * 10^7 cannot overflow after a long uptime.
    return counter / frequency * 10'000'000 + counter % frequency * 10'000'000 / frequency;
}

int64_t PerformanceCounterNow100ns() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return PerformanceCounter100ns(now.QuadPart, frequency.QuadPart);
}
