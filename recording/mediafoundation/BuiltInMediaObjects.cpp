#include "BuiltInMediaObjects.h"

#include "common/ComRef.h"

#include <atomic>
#include <memory>
#include <new>
#include <vector>

namespace {

struct Attribute {
    GUID key;
    MF_ATTRIBUTE_TYPE type;
    UINT64 number;
    GUID guid;
};

// QueryInterface and IMFAttributes for an object implementing `Interface` (which derives from
// IMFAttributes). Only UINT32, UINT64 and GUID values are kept; that is all a video type carries here.
template <typename Interface>
class AttributesOf : public CountedObject<Interface> {
public:
    virtual ~AttributesOf() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMFAttributes) || iid == __uuidof(Interface)) {
            *object = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    STDMETHODIMP GetUINT32(REFGUID key, UINT32* value) override {
        const Attribute* found = find(key, MF_ATTRIBUTE_UINT32);
        if (!found) return MF_E_ATTRIBUTENOTFOUND;
        *value = static_cast<UINT32>(found->number);
        return S_OK;
    }
    STDMETHODIMP GetUINT64(REFGUID key, UINT64* value) override {
        const Attribute* found = find(key, MF_ATTRIBUTE_UINT64);
        if (!found) return MF_E_ATTRIBUTENOTFOUND;
        *value = found->number;
        return S_OK;
    }
    STDMETHODIMP GetGUID(REFGUID key, GUID* value) override {
        const Attribute* found = find(key, MF_ATTRIBUTE_GUID);
        if (!found) return MF_E_ATTRIBUTENOTFOUND;
        *value = found->guid;
        return S_OK;
    }
    STDMETHODIMP SetUINT32(REFGUID key, UINT32 value) override { return set({key, MF_ATTRIBUTE_UINT32, value, {}}); }
    STDMETHODIMP SetUINT64(REFGUID key, UINT64 value) override { return set({key, MF_ATTRIBUTE_UINT64, value, {}}); }
    STDMETHODIMP SetGUID(REFGUID key, REFGUID value) override { return set({key, MF_ATTRIBUTE_GUID, 0, value}); }
    STDMETHODIMP GetCount(UINT32* count) override {
        *count = static_cast<UINT32>(items_.size());
        return S_OK;
    }
    STDMETHODIMP DeleteAllItems() override {
        items_.clear();
        return S_OK;
    }

    STDMETHODIMP GetItem(REFGUID, PROPVARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemType(REFGUID, MF_ATTRIBUTE_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP CompareItem(REFGUID, REFPROPVARIANT, BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP Compare(IMFAttributes*, MF_ATTRIBUTES_MATCH_TYPE, BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDouble(REFGUID, double*) override { return E_NOTIMPL; }
    STDMETHODIMP GetStringLength(REFGUID, UINT32*) override { return E_NOTIMPL; }
    STDMETHODIMP GetString(REFGUID, LPWSTR, UINT32, UINT32*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAllocatedString(REFGUID, LPWSTR*, UINT32*) override { return E_NOTIMPL; }
    STDMETHODIMP GetBlobSize(REFGUID, UINT32*) override { return E_NOTIMPL; }
    STDMETHODIMP GetBlob(REFGUID, UINT8*, UINT32, UINT32*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAllocatedBlob(REFGUID, UINT8**, UINT32*) override { return E_NOTIMPL; }
    STDMETHODIMP GetUnknown(REFGUID, REFIID, LPVOID*) override { return E_NOTIMPL; }
    STDMETHODIMP SetItem(REFGUID, REFPROPVARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteItem(REFGUID) override { return E_NOTIMPL; }
    STDMETHODIMP SetDouble(REFGUID, double) override { return E_NOTIMPL; }
    STDMETHODIMP SetString(REFGUID, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP SetBlob(REFGUID, const UINT8*, UINT32) override { return E_NOTIMPL; }
    STDMETHODIMP SetUnknown(REFGUID, IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP LockStore() override { return E_NOTIMPL; }
    STDMETHODIMP UnlockStore() override { return E_NOTIMPL; }
    STDMETHODIMP GetItemByIndex(UINT32, GUID*, PROPVARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP CopyAllItems(IMFAttributes*) override { return E_NOTIMPL; }

private:
    const Attribute* find(REFGUID key, MF_ATTRIBUTE_TYPE type) const {
        for (const Attribute& item : items_)
            if (item.key == key) return item.type == type ? &item : nullptr;
        return nullptr;
    }
    HRESULT set(const Attribute& value) {
        for (Attribute& item : items_) {
            if (item.key == value.key) {
                item = value;
                return S_OK;
            }
        }
        items_.push_back(value);
        return S_OK;
    }

    std::vector<Attribute> items_;
};

class BuiltInMediaType final : public AttributesOf<IMFMediaType> {
public:
    STDMETHODIMP GetMajorType(GUID* major) override { return GetGUID(MF_MT_MAJOR_TYPE, major); }
    STDMETHODIMP IsCompressedFormat(BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP IsEqual(IMFMediaType*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetRepresentation(GUID, LPVOID*) override { return E_NOTIMPL; }
    STDMETHODIMP FreeRepresentation(GUID, LPVOID) override { return E_NOTIMPL; }
};

class BuiltInMemoryBuffer final : public CountedObject<IMFMediaBuffer> {
public:
    BuiltInMemoryBuffer(std::unique_ptr<BYTE[]> owned, BYTE* bytes, DWORD maxLength)
        : owned_(std::move(owned)), bytes_(bytes), maxLength_(maxLength) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        return QuerySingleInterface<IMFMediaBuffer>(this, iid, object);
    }

    STDMETHODIMP Lock(BYTE** bytes, DWORD* maxLength, DWORD* currentLength) override {
        if (!bytes) return E_POINTER;
        *bytes = bytes_;
        if (maxLength) *maxLength = maxLength_;
        if (currentLength) *currentLength = currentLength_;
        return S_OK;
    }
    STDMETHODIMP Unlock() override { return S_OK; }
    STDMETHODIMP GetCurrentLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = currentLength_;
        return S_OK;
    }
    STDMETHODIMP SetCurrentLength(DWORD length) override {
        if (length > maxLength_) return E_INVALIDARG;
        currentLength_ = length;
        return S_OK;
    }
    STDMETHODIMP GetMaxLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = maxLength_;
        return S_OK;
    }

private:
    ~BuiltInMemoryBuffer() = default;

    std::unique_ptr<BYTE[]> owned_;  // empty for a buffer over someone else's bytes
    BYTE* bytes_;
    DWORD maxLength_;
    DWORD currentLength_ = 0;
};

// One buffer at most: the grabber puts each frame into a single buffer.
class BuiltInSample final : public AttributesOf<IMFSample> {
public:
    STDMETHODIMP GetSampleTime(LONGLONG* time) override {
        if (!time) return E_POINTER;
        *time = time_;
        return S_OK;
    }
    STDMETHODIMP SetSampleTime(LONGLONG time) override {
        time_ = time;
        return S_OK;
    }
    STDMETHODIMP GetSampleDuration(LONGLONG* duration) override {
        if (!duration) return E_POINTER;
        *duration = duration_;
        return S_OK;
    }
    STDMETHODIMP SetSampleDuration(LONGLONG duration) override {
        duration_ = duration;
        return S_OK;
    }
    STDMETHODIMP GetBufferCount(DWORD* count) override {
        if (!count) return E_POINTER;
        *count = buffer_ ? 1 : 0;
        return S_OK;
    }
    STDMETHODIMP AddBuffer(IMFMediaBuffer* buffer) override {
        if (!buffer) return E_POINTER;
        if (buffer_) return E_NOTIMPL;
        buffer_ = ComRef<IMFMediaBuffer>::share(buffer);
        return S_OK;
    }
    STDMETHODIMP GetBufferByIndex(DWORD index, IMFMediaBuffer** buffer) override {
        if (!buffer) return E_POINTER;
        if (index != 0 || !buffer_) return E_INVALIDARG;
        *buffer = ComRef<IMFMediaBuffer>::share(buffer_.get()).detach();
        return S_OK;
    }
    STDMETHODIMP ConvertToContiguousBuffer(IMFMediaBuffer** buffer) override { return GetBufferByIndex(0, buffer); }
    STDMETHODIMP GetTotalLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = 0;
        return buffer_ ? buffer_->GetCurrentLength(length) : S_OK;
    }
    STDMETHODIMP RemoveAllBuffers() override {
        buffer_.reset();
        return S_OK;
    }
    STDMETHODIMP GetSampleFlags(DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSampleFlags(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveBufferByIndex(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP CopyToBuffer(IMFMediaBuffer*) override { return E_NOTIMPL; }

private:
    LONGLONG time_ = 0;
    LONGLONG duration_ = 0;
    ComRef<IMFMediaBuffer> buffer_;
};

template <typename Object, typename Interface>
HRESULT Hand(Object* created, Interface** out) {
    if (!out) {
        if (created) created->Release();
        return E_POINTER;
    }
    *out = created;
    return created ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT CreateBuiltInMediaType(IMFMediaType** type) { return Hand(new (std::nothrow) BuiltInMediaType(), type); }

HRESULT CreateBuiltInSample(IMFSample** sample) { return Hand(new (std::nothrow) BuiltInSample(), sample); }

HRESULT CreateBuiltInMemoryBuffer(DWORD maxLength, IMFMediaBuffer** buffer) {
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[maxLength ? maxLength : 1]);
    if (!bytes) return Hand<BuiltInMemoryBuffer>(nullptr, buffer);
    BYTE* start = bytes.get();
    return Hand(new (std::nothrow) BuiltInMemoryBuffer(std::move(bytes), start, maxLength), buffer);
}

HRESULT CreateBuiltInBufferOver(BYTE* bytes, DWORD length, IMFMediaBuffer** buffer) {
    if (!bytes) return E_POINTER;
    return Hand(new (std::nothrow) BuiltInMemoryBuffer(nullptr, bytes, length), buffer);
}
