#include "FakeSinkWriter.h"

#include "common/ComRef.h"

#include <new>

namespace {

class FakeSinkWriter final : public IMFSinkWriter {
public:
    explicit FakeSinkWriter(FakeSinkWriterScript& script) : script_(script) { ++script_.liveObjects; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        return QuerySingleInterface<IMFSinkWriter>(this, iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            --script_.liveObjects;
            delete this;
        }
        return left;
    }

    STDMETHODIMP AddStream(IMFMediaType* type, DWORD* index) override {
        note("AddStream");
        if (FAILED(script_.failAddStream)) return script_.failAddStream;
        std::lock_guard<std::mutex> guard(script_.lock);
        script_.outputType = CopyAttributes(type);
        *index = script_.streamIndexToGive;
        return S_OK;
    }
    STDMETHODIMP SetInputMediaType(DWORD index, IMFMediaType* type, IMFAttributes* parameters) override {
        note(parameters ? "SetInputMediaType+parameters" : "SetInputMediaType");
        if (index != script_.streamIndexToGive) return MF_E_INVALIDSTREAMNUMBER;
        if (FAILED(script_.failSetInputMediaType)) return script_.failSetInputMediaType;
        std::lock_guard<std::mutex> guard(script_.lock);
        script_.inputType = CopyAttributes(type);
        return S_OK;
    }
    STDMETHODIMP BeginWriting() override {
        note("BeginWriting");
        return script_.failBeginWriting;
    }
    STDMETHODIMP WriteSample(DWORD index, IMFSample* sample) override {
        ++script_.writesInProgress;
        if (script_.finalized) script_.writeAfterFinalize = true;
        note("WriteSample");
        RecordedSample recorded;
        sample->GetSampleTime(&recorded.time);
        sample->GetSampleDuration(&recorded.duration);
        IMFMediaBuffer* buffer = nullptr;
        if (SUCCEEDED(sample->GetBufferByIndex(0, &buffer))) {
            BYTE* bytes = nullptr;
            DWORD length = 0;
            if (SUCCEEDED(buffer->Lock(&bytes, nullptr, &length))) {
                recorded.bytes.assign(bytes, bytes + length);
                buffer->Unlock();
            }
            buffer->Release();
        }
        if (script_.writeSampleDelayMs) Sleep(script_.writeSampleDelayMs);
        {
            std::lock_guard<std::mutex> guard(script_.lock);
            if (index == script_.streamIndexToGive) script_.samples.push_back(std::move(recorded));
        }
        --script_.writesInProgress;
        return index == script_.streamIndexToGive ? S_OK : MF_E_INVALIDSTREAMNUMBER;
    }
    STDMETHODIMP SendStreamTick(DWORD, LONGLONG) override { return S_OK; }
    STDMETHODIMP PlaceMarker(DWORD, void*) override { return S_OK; }
    STDMETHODIMP NotifyEndOfSegment(DWORD) override { return S_OK; }
    STDMETHODIMP Flush(DWORD) override { return S_OK; }
    STDMETHODIMP Finalize() override {
        if (script_.writesInProgress.load() > 0) script_.overlapSeen = true;
        note("Finalize");
        script_.finalized = true;
        return S_OK;
    }
    STDMETHODIMP GetServiceForStream(DWORD, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetStatistics(DWORD, MF_SINK_WRITER_STATISTICS*) override { return E_NOTIMPL; }

private:
    ~FakeSinkWriter() = default;
    void note(const char* call) {
        std::lock_guard<std::mutex> guard(script_.lock);
        script_.calls.emplace_back(call);
    }

    FakeSinkWriterScript& script_;
    std::atomic<ULONG> references_{1};
};

}  // namespace

HRESULT CreateFakeSinkWriter(FakeSinkWriterScript& script, IMFSinkWriter** writer) {
    *writer = new (std::nothrow) FakeSinkWriter(script);
    return *writer ? S_OK : E_OUTOFMEMORY;
}

std::vector<AttributeRecord> CopyAttributes(IMFAttributes* attributes) {
    std::vector<AttributeRecord> records;
    UINT32 count = 0;
    if (!attributes || FAILED(attributes->GetCount(&count))) return records;
    for (UINT32 i = 0; i < count; ++i) {
        AttributeRecord record{};
        PropVariantInit(&record.value);
        if (SUCCEEDED(attributes->GetItemByIndex(i, &record.key, &record.value))) records.push_back(record);
    }
    return records;
}

void ClearAttributes(std::vector<AttributeRecord>& records) {
    for (AttributeRecord& record : records) PropVariantClear(&record.value);
    records.clear();
}
