#include "platform/com/oleauto.h"

#include <QString>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace ronvix::com {

std::u16string ToUtf16(std::string_view utf8) {
    QString s = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()),
                          static_cast<size_t>(s.size()));
}

std::string ToUtf8(std::u16string_view utf16) {
    QByteArray b = QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size())).toUtf8();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

size_t WideLength(LPCOLESTR s) noexcept {
    if (!s)
        return 0;
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

void* CoTaskMemAlloc(size_t bytes) noexcept {
    return std::malloc(bytes ? bytes : 1);
}

void* CoTaskMemRealloc(void* p, size_t bytes) noexcept {
    return std::realloc(p, bytes ? bytes : 1);
}

void CoTaskMemFree(void* p) noexcept {
    std::free(p);
}

LPOLESTR CoTaskMemDup(std::u16string_view s) noexcept {
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(OLECHAR)));
    if (!out)
        return nullptr;
    std::memcpy(out, s.data(), s.size() * sizeof(OLECHAR));
    out[s.size()] = 0;
    return out;
}

namespace {
std::optional<GUID> ParseWide(LPCOLESTR text) {
    std::u16string_view w = WideView(text);
    if (w.size() != 38)
        return std::nullopt;
    std::string narrow(38, '\0');
    for (size_t i = 0; i < 38; ++i) {
        if (w[i] > 0x7F)
            return std::nullopt;
        narrow[i] = static_cast<char>(w[i]);
    }
    return GUID::Parse(narrow);
}
}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) noexcept {
    if (!clsid)
        return E_INVALIDARG;
    *clsid = CLSID_NULL;
    auto g = ParseWide(text);
    if (!g)
        return CO_E_CLASSSTRING;
    *clsid = *g;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) noexcept {
    if (!iid)
        return E_INVALIDARG;
    *iid = IID_NULL;
    auto g = ParseWide(text);
    if (!g)
        return E_INVALIDARG;
    *iid = *g;
    return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int chars) noexcept {
    if (!buffer || chars < 39)
        return 0;
    std::string s = guid.ToString();
    for (size_t i = 0; i < s.size(); ++i)
        buffer[i] = static_cast<OLECHAR>(s[i]);
    buffer[38] = 0;
    return 39;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* out) noexcept {
    if (!out)
        return E_INVALIDARG;
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
    if (!*out)
        return E_OUTOFMEMORY;
    StringFromGUID2(clsid, *out, 39);
    return S_OK;
}

// Layout of a BSTR allocation: [uint32 byte count][chars...][0].
BSTR SysAllocStringLen(const OLECHAR* s, UINT chars) noexcept {
    if (chars > (std::numeric_limits<uint32_t>::max() - 8) / sizeof(OLECHAR))
        return nullptr;
    size_t bytes = size_t{chars} * sizeof(OLECHAR);
    auto* raw = static_cast<uint8_t*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
    if (!raw)
        return nullptr;
    uint32_t count = static_cast<uint32_t>(bytes);
    std::memcpy(raw, &count, sizeof count);
    auto* str = reinterpret_cast<BSTR>(raw + sizeof(uint32_t));
    if (s)
        std::memcpy(str, s, bytes);
    else
        std::memset(str, 0, bytes);
    str[chars] = 0;
    return str;
}

BSTR SysAllocString(LPCOLESTR s) noexcept {
    if (!s)
        return nullptr;
    return SysAllocStringLen(s, static_cast<UINT>(WideLength(s)));
}

BSTR SysAllocStringUtf8(std::string_view utf8) noexcept {
    try {
        std::u16string w = ToUtf16(utf8);
        return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    } catch (...) {
        return nullptr;
    }
}

void SysFreeString(BSTR s) noexcept {
    if (s)
        std::free(reinterpret_cast<uint8_t*>(s) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR s) noexcept {
    if (!s)
        return 0;
    uint32_t count = 0;
    std::memcpy(&count, reinterpret_cast<uint8_t*>(s) - sizeof(uint32_t), sizeof count);
    return count / sizeof(OLECHAR);
}

void VariantInit(VARIANT* v) noexcept {
    v->vt = VT_EMPTY;
    v->ullVal = 0;
}

HRESULT VariantClear(VARIANT* v) noexcept {
    if (!v)
        return E_INVALIDARG;
    if (v->vt == VT_BSTR)
        SysFreeString(v->bstrVal);
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) noexcept {
    if (!dest || !src)
        return E_INVALIDARG;
    if (dest == src)
        return S_OK;
    VARIANT copy;
    copy.vt = src->vt;
    copy.ullVal = src->ullVal;
    if (src->vt == VT_BSTR && src->bstrVal) {
        copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!copy.bstrVal)
            return E_OUTOFMEMORY;
    }
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

namespace {
bool AsInteger(const VARIANT& v, int64_t& out, bool& is_unsigned, uint64_t& uout) {
    is_unsigned = false;
    switch (v.vt) {
        case VT_I2:
            out = v.iVal;
            return true;
        case VT_I4:
            out = v.lVal;
            return true;
        case VT_UI4:
            out = v.ulVal;
            return true;
        case VT_I8:
            out = v.llVal;
            return true;
        case VT_BOOL:
            out = v.boolVal ? -1 : 0;
            return true;
        case VT_UI8:
            is_unsigned = true;
            uout = v.ullVal;
            return true;
        case VT_BSTR: {
            std::string text =
                ToUtf8(std::u16string_view(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)));
            size_t a = text.find_first_not_of(" \t");
            size_t b = text.find_last_not_of(" \t");
            if (a == std::string::npos)
                return false;
            text = text.substr(a, b - a + 1);
            auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
            if (ec == std::errc() && p == text.data() + text.size())
                return true;
            auto [q, ec2] = std::from_chars(text.data(), text.data() + text.size(), uout);
            if (ec2 == std::errc() && q == text.data() + text.size()) {
                is_unsigned = true;
                return true;
            }
            return false;
        }
        default:
            return false;
    }
}

template <class T>
bool Fits(int64_t v, bool is_unsigned, uint64_t uv) {
    if (is_unsigned)
        return uv <= static_cast<uint64_t>(std::numeric_limits<T>::max());
    if constexpr (std::is_unsigned_v<T>) {
        return v >= 0 && static_cast<uint64_t>(v) <= std::numeric_limits<T>::max();
    } else {
        return v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
    }
}
}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, uint16_t, VARTYPE vt) noexcept {
    if (!dest || !src)
        return E_INVALIDARG;
    if (src->vt == vt)
        return VariantCopy(dest, src);
    VARIANT out;
    if (vt == VT_BSTR) {
        std::string text;
        int64_t v = 0;
        uint64_t uv = 0;
        bool is_unsigned = false;
        if (src->vt == VT_BOOL)
            text = src->boolVal ? "True" : "False";
        else if (AsInteger(*src, v, is_unsigned, uv))
            text = is_unsigned ? std::to_string(uv) : std::to_string(v);
        else
            return DISP_E_TYPEMISMATCH;
        out.vt = VT_BSTR;
        out.bstrVal = SysAllocStringUtf8(text);
        if (!out.bstrVal)
            return E_OUTOFMEMORY;
    } else {
        int64_t v = 0;
        uint64_t uv = 0;
        bool is_unsigned = false;
        if (!AsInteger(*src, v, is_unsigned, uv))
            return DISP_E_TYPEMISMATCH;
        out.vt = vt;
        switch (vt) {
            case VT_I2:
                if (!Fits<int16_t>(v, is_unsigned, uv))
                    return DISP_E_OVERFLOW;
                out.iVal = static_cast<int16_t>(v);
                break;
            case VT_I4:
                if (!Fits<int32_t>(v, is_unsigned, uv))
                    return DISP_E_OVERFLOW;
                out.lVal = static_cast<int32_t>(v);
                break;
            case VT_UI4:
                if (!Fits<uint32_t>(v, is_unsigned, uv))
                    return DISP_E_OVERFLOW;
                out.ulVal = static_cast<uint32_t>(v);
                break;
            case VT_I8:
                if (!Fits<int64_t>(v, is_unsigned, uv))
                    return DISP_E_OVERFLOW;
                out.llVal = v;
                break;
            case VT_UI8:
                if (!is_unsigned && v < 0)
                    return DISP_E_OVERFLOW;
                out.ullVal = is_unsigned ? uv : static_cast<uint64_t>(v);
                break;
            case VT_BOOL:
                out.boolVal = (is_unsigned ? uv != 0 : v != 0) ? VARIANT_TRUE : VARIANT_FALSE;
                break;
            default:
                return DISP_E_BADVARTYPE;
        }
    }
    if (dest == src || dest->vt != VT_EMPTY)
        VariantClear(dest);
    *dest = out;
    return S_OK;
}

}  // namespace ronvix::com
