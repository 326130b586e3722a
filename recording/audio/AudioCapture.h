#pragma once
// WASAPI shared-mode capture of one sound source on its own thread: a capture device chosen by
// its endpoint id, or what the default output device plays (loopback, "System sound"). Every
// packet reaches the consumer stamped with the capture client's performance-counter position.
#include <windows.h>
// MinGW-w64 10: audioclient.h's ksmedia.h defines DDPIXELFORMAT and TIMECODE_SAMPLE unless
// strmif.h (which Media Foundation's headers include) came first; the other order fails.
#include <strmif.h>
#include <audioclient.h>

#include "common/ComRef.h"
#include "common/WinHandles.h"
#include "recording/audio/SoundConverter.h"
#include "recording/audio/SoundSource.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

// The device's mix format, as the converter takes it, and the size of one frame.
struct CaptureFormat {
    zv::audio::SoundFormat sound;
    uint32_t bytesPerFrame = 0;
};

struct CapturedPacket {
    const BYTE* data = nullptr;  // null when silent: the frames are zeros
    uint32_t frames = 0;
    int64_t time100ns = 0;       // performance-counter time of the first frame
    bool silent = false;
    bool discontinuity = false;  // frames were lost before this packet
};

// Called on the capture thread. After `lost` only `idle` comes.
struct AudioCaptureCallbacks {
    std::function<void(const CapturedPacket&)> packet;
    // The source went away (unplugged, disabled, the audio service ended): when it was noticed.
    std::function<void(int64_t time100ns, HRESULT why)> lost;
    // A wake-up without packets (nothing plays into a loopback, or the source is lost): the
    // instant before which every frame has been delivered, now minus the client's buffer
    // length (a frame older than that has been overwritten). Delivery can lag far behind the
    // capture (Wine hands packets over in bursts, 100-300 ms late), so nothing younger is safe
    // to fill with silence.
    std::function<void(int64_t settled100ns)> idle;
};

// Where audio clients come from: the platform's endpoints; tests put their fake here (and the
// real one back).
using ActivateAudioClientFn = HRESULT (*)(const SoundSource& source, IAudioClient** client);
extern ActivateAudioClientFn activateAudioClient;
HRESULT ActivatePlatformAudioClient(const SoundSource& source, IAudioClient** client);

// Packet stamps from the device's frame position, set on the performance counter by the least
// late of the recent QPC stamps: Wine stamps packets when they are read, so a burst of packets
// read at once carries one time; on Windows the stamps are exact and this changes nothing. The
// device's drift still shows, as the minimum follows the stamps over a few seconds.
struct PacketStamps {
    static constexpr int kWindow = 256;  // packets, about 2.5 s
    int64_t offsets[kWindow] = {};
    int count = 0;
    int64_t stamp(uint64_t devicePosition, int64_t qpc100ns, int rate);
};

struct AudioCapture {
    ComRef<IAudioClient> client;
    ComRef<IAudioCaptureClient> captureClient;
    UniqueKernelHandle bufferEvent;  // null when the device is polled
    UniqueKernelHandle stopEvent;
    CaptureFormat format;
    int64_t bufferLength100ns = 0;  // how long the client keeps a frame before it is overwritten
    PacketStamps stamps;
    AudioCaptureCallbacks callbacks;
    std::thread thread;
    bool started = false;
    // Registration of the thread with the multimedia scheduler; its failure is not the
    // recording's (Wine has no such service), only kept here.
    std::atomic<HRESULT> schedulerResult{S_OK};
};

// Opens the source, starts the device and the capture thread. The result is the first failing
// step's; on failure everything made so far is released again.
HRESULT StartAudioCapture(AudioCapture& capture, const SoundSource& source, AudioCaptureCallbacks callbacks);
// Ends the thread and the device; safe after a failed or no start.
void StopAudioCapture(AudioCapture& capture);

// The performance counter in 100 ns units, the clock of packets and of the video's frames.
int64_t PerformanceCounter100ns(int64_t counter, int64_t frequency);
int64_t PerformanceCounterNow100ns();
