#pragma once
// A counting stand-in for the platform's sink writer: it records what the recorder asks of
// it, can be told to fail a step or to take its time, and counts its references so tests
// can prove every path lets go of it.
#include "common/ComRef.h"
#include "recording/mediafoundation/MediaFoundation.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

struct RecordedSample { LONGLONG time = 0, duration = 0; std::vector<BYTE> bytes; DWORD stream = 0; };

// What the fake is told to do and what it saw, shared with the test.
struct FakeSinkWriterScript {
    HRESULT failAddStream = S_OK, failSetInputMediaType = S_OK, failBeginWriting = S_OK, finalizeResult = S_OK;
    HRESULT failWrites = S_OK;  // from write number `failWritesFrom` (counted from 0) on
    size_t failWritesFrom = 0;
    DWORD streamIndexToGive = 0;
    DWORD writeSampleDelayMs = 0;  // how long each WriteSample takes

    std::mutex lock;
    std::vector<std::string> calls;  // in order: "AddStream", "WriteSample", "Finalize", ...
    ComRef<IMFMediaType> outputType, inputType, soundOutputType, soundInputType;  // the second stream: sound
    std::vector<RecordedSample> samples;
    std::atomic<int> writesInProgress{0};
    std::atomic<bool> overlapSeen{false};  // Finalize while a WriteSample ran
    std::atomic<bool> writeAfterFinalize{false}, finalized{false};
    std::atomic<long> liveObjects{0};

    size_t count(const char* call) {
        std::lock_guard<std::mutex> guard(lock);
        return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
    }
};

class FakeSinkWriter final : public IMFSinkWriter {
public:
    explicit FakeSinkWriter(FakeSinkWriterScript& script) : script_(script) { ++script_.liveObjects; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        return QuerySingleInterface<IMFSinkWriter>(this, iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) --script_.liveObjects, delete this;
        return left;
    }

    // The media types come from the one thread that sets the writer up, so they need no lock.
    STDMETHODIMP AddStream(IMFMediaType* type, DWORD* index) override {
        const HRESULT hr = note("AddStream", script_.failAddStream);
        if (SUCCEEDED(hr)) (streams_ ? script_.soundOutputType : script_.outputType) = ComRef<IMFMediaType>::share(type),
                           *index = script_.streamIndexToGive + streams_++;
        return hr;
    }
    STDMETHODIMP SetInputMediaType(DWORD index, IMFMediaType* type, IMFAttributes* parameters) override {
        if (index < script_.streamIndexToGive || index >= script_.streamIndexToGive + streams_) return MF_E_INVALIDSTREAMNUMBER;
        const HRESULT hr = note(parameters ? "SetInputMediaType+parameters" : "SetInputMediaType",
                                script_.failSetInputMediaType);
        if (SUCCEEDED(hr))
            (index == script_.streamIndexToGive ? script_.inputType : script_.soundInputType) = ComRef<IMFMediaType>::share(type);
        return hr;
    }
    STDMETHODIMP BeginWriting() override { return note("BeginWriting", script_.failBeginWriting); }
    STDMETHODIMP WriteSample(DWORD index, IMFSample* sample) override {
        ++script_.writesInProgress;
        if (script_.finalized) script_.writeAfterFinalize = true;
        const bool fails = FAILED(script_.failWrites) && script_.count("WriteSample") >= script_.failWritesFrom;
        note("WriteSample", S_OK);
        RecordedSample recorded;
        sample->GetSampleTime(&recorded.time);
        sample->GetSampleDuration(&recorded.duration);
        ComRef<IMFMediaBuffer> buffer;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        if (SUCCEEDED(sample->GetBufferByIndex(0, buffer.put())) && SUCCEEDED(buffer->Lock(&bytes, nullptr, &length))) {
            recorded.bytes.assign(bytes, bytes + length);
            buffer->Unlock();
        }
        Sleep(script_.writeSampleDelayMs);
        recorded.stream = index;
        const bool wrongStream = index < script_.streamIndexToGive || index >= script_.streamIndexToGive + streams_;
        if (!wrongStream && !fails) {
            std::lock_guard<std::mutex> guard(script_.lock);
            script_.samples.push_back(std::move(recorded));
        }
        --script_.writesInProgress;
        return fails ? script_.failWrites : wrongStream ? MF_E_INVALIDSTREAMNUMBER : S_OK;
    }
    STDMETHODIMP SendStreamTick(DWORD, LONGLONG) override { return S_OK; }
    STDMETHODIMP PlaceMarker(DWORD, void*) override { return S_OK; }
    STDMETHODIMP NotifyEndOfSegment(DWORD) override { return S_OK; }
    STDMETHODIMP Flush(DWORD) override { return S_OK; }
    STDMETHODIMP Finalize() override {
        if (script_.writesInProgress.load() > 0) script_.overlapSeen = true;
        script_.finalized = true;
        return note("Finalize", script_.finalizeResult);
    }
    STDMETHODIMP GetServiceForStream(DWORD, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetStatistics(DWORD, MF_SINK_WRITER_STATISTICS*) override { return E_NOTIMPL; }

private:
    ~FakeSinkWriter() = default;
    HRESULT note(const char* call, HRESULT result) {
        std::lock_guard<std::mutex> guard(script_.lock);
        script_.calls.emplace_back(call);
        return result;
    }

    FakeSinkWriterScript& script_;
    DWORD streams_ = 0;
    std::atomic<ULONG> references_{1};
};

inline HRESULT CreateFakeSinkWriter(FakeSinkWriterScript& script, IMFSinkWriter** writer) {
    *writer = new FakeSinkWriter(script);
    return S_OK;
}
