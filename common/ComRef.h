#pragma once
// Counted reference to a COM object. Adopting a raw pointer takes over its reference;
// sharing (AddRef) is explicit. put() releases the old value before handing out the slot.
#include <unknwn.h>

#include <atomic>
#include <utility>

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) reset(std::exchange(other.ptr_, nullptr));
        return *this;
    }
    ~ComRef() { reset(); }

    static ComRef adopt(T* ptr) { ComRef ref; ref.ptr_ = ptr; return ref; }
    static ComRef share(T* ptr) {
        if (ptr) ptr->AddRef();
        return adopt(ptr);
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    T** put() { reset(); return &ptr_; }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    T* detach() { return std::exchange(ptr_, nullptr); }
    void reset(T* ptr = nullptr) {
        T* old = std::exchange(ptr_, ptr);
        if (old) old->Release();
    }

private:
    T* ptr_ = nullptr;
};

// QueryInterface for one of our own objects that implements a single platform interface.
template <typename Interface>
HRESULT QuerySingleInterface(Interface* self, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface)) {
        *object = self;
        self->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The reference count of one of our own objects that implements a platform interface: it is
// born with one reference and deletes itself on the last release.
template <typename Interface>
class CountedObject : public Interface {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~CountedObject() = default;

private:
    std::atomic<ULONG> references_{1};
};
