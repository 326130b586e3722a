#pragma once
// A counting stand-in for the platform's sink writer: it records what the recorder asks of
// it, can be told to fail a step or to take its time, and counts its references so tests
// can prove every path lets go of it.
#include "recording/MediaFoundation.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

struct AttributeRecord {
    GUID key;
    PROPVARIANT value;
};

struct RecordedSample {
    LONGLONG time = 0;
    LONGLONG duration = 0;
    std::vector<BYTE> bytes;
};

// What the fake is told to do and what it saw, shared with the test.
struct FakeSinkWriterScript {
    HRESULT failAddStream = S_OK;
    HRESULT failSetInputMediaType = S_OK;
    HRESULT failBeginWriting = S_OK;
    DWORD streamIndexToGive = 0;
    DWORD writeSampleDelayMs = 0;  // how long each WriteSample takes

    std::mutex lock;
    std::vector<std::string> calls;  // in order: "AddStream", "WriteSample", "Finalize", ...
    std::vector<AttributeRecord> outputType;
    std::vector<AttributeRecord> inputType;
    std::vector<RecordedSample> samples;
    std::atomic<int> writesInProgress{0};
    std::atomic<bool> overlapSeen{false};       // Finalize while a WriteSample ran
    std::atomic<bool> writeAfterFinalize{false};
    std::atomic<bool> finalized{false};
    std::atomic<long> liveObjects{0};
};

HRESULT CreateFakeSinkWriter(FakeSinkWriterScript& script, IMFSinkWriter** writer);

// Attribute helpers for checks.
std::vector<AttributeRecord> CopyAttributes(IMFAttributes* attributes);
void ClearAttributes(std::vector<AttributeRecord>& records);
