#pragma once
// Early-return chains for platform results: the first failing step ends the chain with its code.
#include <windows.h>
#include <type_traits>

#define ZV_RETURN_IF_FAILED(expr)                                                     \
    do {                                                                              \
        auto zvHr_ = (expr);                                                          \
        static_assert(std::is_same_v<decltype(zvHr_), HRESULT>, "takes an HRESULT"); \
        if (FAILED(zvHr_)) return zvHr_;                                              \
    } while (0)

// For BOOL-returning calls that report through GetLastError.
#define ZV_RETURN_IF_WIN32_FALSE(expr)                                                  \
    do {                                                                                \
        if (!(expr)) {                                                                  \
            DWORD zvError_ = ::GetLastError();                                          \
            return zvError_ ? HRESULT_FROM_WIN32(zvError_) : E_FAIL;                     \
        }                                                                               \
    } while (0)

#define ZV_RETURN_HR_IF_NULL(hr, expr) \
    do {                               \
        if ((expr) == nullptr) return (hr); \
    } while (0)
