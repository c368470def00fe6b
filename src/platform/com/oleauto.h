#pragma once
// Wide strings, the task allocator, BSTR and VARIANT: the value types that
// cross platform interfaces.
//
// WCHAR is a UTF-16 code unit. Wide strings handed out by the platform
// (display names, BSTRs) are allocated with the task allocator or the BSTR
// functions; the receiver frees them with the matching function.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace ronvix::com {

using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using UINT = uint32_t;

// UTF-8 <-> UTF-16. Invalid UTF-8 becomes U+FFFD; unpaired surrogates become
// U+FFFD in UTF-8.
std::u16string ToUtf16(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);
// Length of a zero-terminated wide string; 0 for null.
size_t WideLength(LPCOLESTR s) noexcept;
inline std::u16string_view WideView(LPCOLESTR s) noexcept {
    return s ? std::u16string_view(s, WideLength(s)) : std::u16string_view();
}

// The task allocator. Memory from CoTaskMemAlloc is freed with CoTaskMemFree
// by whoever receives it; both accept null. Thread-safe.
void* CoTaskMemAlloc(size_t bytes) noexcept;
void* CoTaskMemRealloc(void* p, size_t bytes) noexcept;
void CoTaskMemFree(void* p) noexcept;
// A zero-terminated copy of `s` from the task allocator, or null when out of
// memory.
LPOLESTR CoTaskMemDup(std::u16string_view s) noexcept;

// GUID text in wide form. CLSIDFromString accepts exactly the registry form
// ("{...}" with 32 hex digits) and fails with CO_E_CLASSSTRING otherwise,
// leaving *clsid as CLSID_NULL.
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHr(0x800401F3);
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) noexcept;
HRESULT IIDFromString(LPCOLESTR text, IID* iid) noexcept;
// Writes the registry form with its terminating zero into `buffer`; returns
// the characters written including the zero (39), or 0 when `chars` < 39.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int chars) noexcept;
// The registry form from the task allocator (the caller frees it).
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* out) noexcept;

// BSTR: a wide string with a 32-bit byte count stored just before the first
// character and a terminating zero after the last. Null is the empty string.
using BSTR = OLECHAR*;
BSTR SysAllocString(LPCOLESTR s) noexcept;
BSTR SysAllocStringLen(const OLECHAR* s, UINT chars) noexcept;
BSTR SysAllocStringUtf8(std::string_view utf8) noexcept;
void SysFreeString(BSTR s) noexcept;
UINT SysStringLen(BSTR s) noexcept;

// VARIANT: a tagged value. Only the types the platform exchanges are
// supported; VariantClear frees what the variant owns (a BSTR).
using VARTYPE = uint16_t;
enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_BOOL = 11,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
};
using VARIANT_BOOL = int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct VARIANT {
    VARTYPE vt = VT_EMPTY;
    union {
        int16_t iVal;
        int32_t lVal;
        uint32_t ulVal;
        int64_t llVal;
        uint64_t ullVal;
        VARIANT_BOOL boolVal;
        BSTR bstrVal;
    };
    VARIANT() : ullVal(0) {}
};

inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHr(0x80020005);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHr(0x80020008);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHr(0x8002000A);

void VariantInit(VARIANT* v) noexcept;
// Frees the variant's content and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v) noexcept;
// Deep copy: clears `dest` first; a BSTR is duplicated.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) noexcept;
// Converts `src` to type `vt` into `dest` (which may be `src`). Numbers and
// strings convert both ways; a string that is not a number fails with
// DISP_E_TYPEMISMATCH and leaves `dest` unchanged.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, uint16_t flags, VARTYPE vt) noexcept;

}  // namespace ronvix::com
