#pragma once
// Move-only owners for the platform's handles, one template parameterised by the close function.
#include <windows.h>
#include <combaseapi.h>
#include <winhttp.h>
#include <utility>

template <typename T>
T NullHandle() { return T{}; }

// `Empty` gives the value that means "nothing held": null for most handles, but
// INVALID_HANDLE_VALUE for what CreateFile returns.
template <typename T, auto Close, auto Empty = NullHandle<T>>
class UniqueHandle {
public:
    UniqueHandle() : value_(Empty()) {}
    explicit UniqueHandle(T value) : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Empty(); }
    T release() { return std::exchange(value_, Empty()); }
    void reset(T value = Empty()) {
        T old = std::exchange(value_, value);
        if (old != Empty()) Close(old);
    }
    // For out-parameters: closes what is held first.
    T* put() { reset(); return &value_; }

private:
    T value_;
};

namespace handle_close {
inline void Kernel(HANDLE h) { ::CloseHandle(h); }
inline void Gdi(HGDIOBJ h) { ::DeleteObject(h); }
inline void Dc(HDC h) { ::DeleteDC(h); }
inline void ScreenDc(HDC h) { ::ReleaseDC(nullptr, h); }  // GetDC(nullptr): released against no window
inline void Menu(HMENU h) { ::DestroyMenu(h); }
inline void Window(HWND h) { ::DestroyWindow(h); }
inline void Global(HGLOBAL h) { ::GlobalFree(h); }
inline void Internet(HINTERNET h) { ::WinHttpCloseHandle(h); }
inline void RegistryKey(HKEY h) { ::RegCloseKey(h); }
inline void TaskMemory(void* p) { ::CoTaskMemFree(p); }
inline HANDLE NoFile() { return INVALID_HANDLE_VALUE; }
}  // namespace handle_close

using UniqueKernelHandle = UniqueHandle<HANDLE, handle_close::Kernel>;
using UniqueFile = UniqueHandle<HANDLE, handle_close::Kernel, handle_close::NoFile>;
using UniqueBitmap = UniqueHandle<HBITMAP, handle_close::Gdi>;
using UniqueBrush = UniqueHandle<HBRUSH, handle_close::Gdi>;
using UniqueFont = UniqueHandle<HFONT, handle_close::Gdi>;
using UniquePen = UniqueHandle<HPEN, handle_close::Gdi>;
using UniqueMemoryDc = UniqueHandle<HDC, handle_close::Dc>;
using UniqueScreenDc = UniqueHandle<HDC, handle_close::ScreenDc>;
using UniqueMenu = UniqueHandle<HMENU, handle_close::Menu>;
using UniqueWindow = UniqueHandle<HWND, handle_close::Window>;
using UniqueGlobal = UniqueHandle<HGLOBAL, handle_close::Global>;
using UniqueInternet = UniqueHandle<HINTERNET, handle_close::Internet>;
using UniqueRegistryKey = UniqueHandle<HKEY, handle_close::RegistryKey>;
// What the platform hands out from CoTaskMemAlloc (a known folder's path, a shell item list), by its pointer type.
template <typename Pointer>
using UniqueTaskMemory = UniqueHandle<Pointer, handle_close::TaskMemory>;

// A window's DC keeps the window it came from, so it is released against the right one.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() { if (dc_) ::ReleaseDC(window_, dc_); }
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a DC and puts the previous one back on scope exit.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() { if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_); }

private:
    HDC dc_;
    HGDIOBJ previous_;
};
