#include "platform/com/moniker.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "platform/com/moniker_internal.h"
#include "platform/com/object.h"
#include "platform/com/rot.h"
#include "platform/com/stream.h"

namespace ronvix::com {

namespace {

char16_t AsciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

bool StartsWithNoCase(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::optional<GUID> ParseWideGuid(std::u16string_view text) {
    if (text.size() != 38)
        return std::nullopt;
    std::u16string z(text);
    CLSID g;
    if (FAILED(CLSIDFromString(z.c_str(), &g)))
        return std::nullopt;
    return g;
}

DWORD HashName(std::u16string_view name) {
    uint32_t h = 2166136261u;
    for (char16_t c : name) {
        h ^= AsciiLower(c);
        h *= 16777619u;
    }
    return h;
}

HRESULT ReturnDisplayName(std::u16string_view name, LPOLESTR* out) {
    if (!out)
        return E_POINTER;
    *out = CoTaskMemDup(name);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Writes a 32-bit little-endian byte count and the UTF-16LE characters of
// `text` followed by a zero character.
HRESULT WriteCountedWide(IStream* stream, std::u16string_view text) {
    std::vector<uint8_t> bytes;
    uint32_t count = static_cast<uint32_t>((text.size() + 1) * 2);
    bytes.reserve(4 + count);
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(count >> (8 * i)));
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    ULONG written = 0;
    HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    if (FAILED(hr))
        return hr;
    return written == bytes.size() ? S_OK : STG_E_WRITEFAULT;
}

// Reads what WriteCountedWide wrote. Rejects counts that are odd, too small,
// larger than kMaxDisplayNameChars, a missing terminating zero and a zero
// inside the text; never reads more than the count says.
HRESULT ReadCountedWide(IStream* stream, std::u16string& out) {
    uint8_t count_bytes[4];
    HRESULT hr = ReadExact(stream, count_bytes, 4);
    if (FAILED(hr))
        return hr;
    uint32_t count = uint32_t{count_bytes[0]} | uint32_t{count_bytes[1]} << 8 |
                     uint32_t{count_bytes[2]} << 16 | uint32_t{count_bytes[3]} << 24;
    if (count < 2 || count % 2 != 0 || count / 2 > kMaxDisplayNameChars)
        return STG_E_READFAULT;
    std::vector<uint8_t> bytes(count);
    hr = ReadExact(stream, bytes.data(), count);
    if (FAILED(hr))
        return hr;
    size_t chars = count / 2 - 1;
    if (bytes[count - 2] != 0 || bytes[count - 1] != 0)
        return STG_E_READFAULT;
    std::u16string text(chars, u'\0');
    for (size_t i = 0; i < chars; ++i) {
        text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        if (text[i] == 0)
            return STG_E_READFAULT;
    }
    out = std::move(text);
    return S_OK;
}

// --- Property bag ---------------------------------------------------------------

class PropertyBag final : public ComObject<IPropertyBag> {
public:
    HRESULT Read(LPCOLESTR name, VARIANT* var, IErrorLog*) override {
        if (!name || !var)
            return E_POINTER;
        std::lock_guard lock(m_lock);
        auto it = Lookup(WideView(name));
        if (it == m_values.end())
            return E_INVALIDARG;
        if (var->vt == VT_EMPTY)
            return VariantCopy(var, &it->second);
        VARIANT converted;
        HRESULT hr = VariantChangeType(&converted, &it->second, 0, var->vt);
        if (FAILED(hr))
            return hr;
        VariantClear(var);
        *var = converted;
        return S_OK;
    }

    HRESULT Write(LPCOLESTR name, VARIANT* var) override {
        if (!name || !var)
            return E_POINTER;
        std::lock_guard lock(m_lock);
        auto it = Lookup(WideView(name));
        if (it == m_values.end()) {
            m_values.emplace_back(std::u16string(WideView(name)), VARIANT{});
            it = m_values.end() - 1;
        }
        return VariantCopy(&it->second, var);
    }

    void Set(std::u16string name, std::string_view utf8) {
        VARIANT v;
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringUtf8(utf8);
        if (!v.bstrVal)
            throw std::bad_alloc();
        m_values.emplace_back(std::move(name), v);
    }

    ~PropertyBag() override {
        for (auto& [name, value] : m_values)
            VariantClear(&value);
    }

private:
    using Values = std::vector<std::pair<std::u16string, VARIANT>>;
    Values::iterator Lookup(std::u16string_view name) {
        for (auto it = m_values.begin(); it != m_values.end(); ++it)
            if (EqualsNoCase(it->first, name))
                return it;
        return m_values.end();
    }

    std::mutex m_lock;
    // Guarded by m_lock.
    Values m_values;
};

HRESULT MakeDeviceBag(const DeviceDescription& d, REFIID riid, void** out) {
    if (riid != IPropertyBag::iid && riid != IUnknown::iid)
        return E_NOINTERFACE;
    std::map<std::string, std::string> values{{"FriendlyName", d.friendly_name}};
    if (d.clsid != CLSID_NULL)
        values["CLSID"] = d.clsid.ToString();
    if (!d.identity.empty())
        values["DevicePath"] = d.identity;
    ComPtr<IPropertyBag> bag;
    HRESULT hr = CreatePropertyBag(values, bag.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return hr;
    return bag->QueryInterface(riid, out);
}

// --- Device moniker ---------------------------------------------------------------

class DeviceMoniker final : public ComObject<IMoniker> {
public:
    DeviceMoniker() = default;
    DeviceMoniker(std::u16string name, std::optional<DeviceDescription> snapshot)
        : m_name(std::move(name)), m_snapshot(std::move(snapshot)) {}

    HRESULT GetClassID(CLSID* clsid) override {
        if (!clsid)
            return E_POINTER;
        *clsid = CLSID_CDeviceMoniker;
        return S_OK;
    }
    HRESULT IsDirty() override { return S_FALSE; }

    HRESULT Load(IStream* stream) override {
        if (!stream)
            return E_POINTER;
        std::u16string name;
        HRESULT hr = ReadCountedWide(stream, name);
        if (FAILED(hr))
            return hr;
        if (!ParseDeviceDisplayName(name))
            return MK_E_SYNTAX;
        std::lock_guard lock(m_lock);
        m_name = std::move(name);
        m_snapshot.reset();
        return S_OK;
    }

    HRESULT Save(IStream* stream, BOOL) override {
        if (!stream)
            return E_POINTER;
        return WriteCountedWide(stream, Name());
    }

    HRESULT GetSizeMax(uint64_t* size) override {
        if (!size)
            return E_POINTER;
        *size = 4 + (Name().size() + 1) * 2;
        return S_OK;
    }

    HRESULT BindToObject(IBindCtx*, IMoniker* left, REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (left)
            return E_INVALIDARG;
        std::u16string name = Name();
        auto parsed = ParseDeviceDisplayName(name);
        if (!parsed)
            return MK_E_NOOBJECT;
        if (parsed->kind == DeviceNameKind::Software) {
            if (!ClassRegistry::Instance().Find(parsed->clsid))
                return MK_E_NOOBJECT;
            return CoCreateInstance(parsed->clsid, nullptr, CLSCTX_INPROC, riid, out);
        }
        auto device = DeviceRegistry::Instance().Find(name);
        if (!device || !device->description.create)
            return MK_E_NOOBJECT;
        try {
            HRESULT hr = device->description.create(riid, out);
            if (FAILED(hr))
                *out = nullptr;
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }

    HRESULT BindToStorage(IBindCtx*, IMoniker* left, REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (left)
            return E_INVALIDARG;
        std::u16string name = Name();
        auto parsed = ParseDeviceDisplayName(name);
        if (!parsed)
            return MK_E_NOOBJECT;
        std::optional<DeviceDescription> description;
        if (parsed->kind == DeviceNameKind::Software) {
            if (auto entry = ClassRegistry::Instance().Find(parsed->clsid))
                description = DeviceDescription{entry->friendly_name, {}, entry->clsid, {}};
        } else if (auto device = DeviceRegistry::Instance().Find(name)) {
            description = device->description;
        }
        if (!description) {
            std::lock_guard lock(m_lock);
            description = m_snapshot;
        }
        if (!description)
            return MK_E_NOOBJECT;
        try {
            return MakeDeviceBag(*description, riid, out);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT IsEqual(IMoniker* other) override {
        if (!other)
            return E_INVALIDARG;
        DWORD sys = MKSYS_NONE;
        if (FAILED(other->IsSystemMoniker(&sys)) || sys != MKSYS_NONE)
            return S_FALSE;
        CLSID clsid;
        if (FAILED(other->GetClassID(&clsid)) || clsid != CLSID_CDeviceMoniker)
            return S_FALSE;
        return EqualsNoCase(DisplayNameOf(other), Name()) ? S_OK : S_FALSE;
    }

    HRESULT Hash(DWORD* hash) override {
        if (!hash)
            return E_POINTER;
        *hash = HashName(Name());
        return S_OK;
    }

    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
        return ReturnDisplayName(Name(), name);
    }

    HRESULT IsSystemMoniker(DWORD* mksys) override {
        if (!mksys)
            return E_POINTER;
        *mksys = MKSYS_NONE;
        return S_FALSE;
    }

private:
    std::u16string Name() const {
        std::lock_guard lock(m_lock);
        return m_name;
    }

    mutable std::mutex m_lock;
    // Guarded by m_lock (Load may replace them while another thread reads).
    std::u16string m_name;
    std::optional<DeviceDescription> m_snapshot;
};

// --- Item moniker ---------------------------------------------------------------

class ItemMoniker final : public ComObject<IMoniker> {
public:
    ItemMoniker() = default;
    ItemMoniker(std::u16string delimiter, std::u16string item)
        : m_delimiter(std::move(delimiter)), m_item(std::move(item)) {}

    HRESULT GetClassID(CLSID* clsid) override {
        if (!clsid)
            return E_POINTER;
        *clsid = CLSID_ItemMoniker;
        return S_OK;
    }
    HRESULT IsDirty() override { return S_FALSE; }

    HRESULT Load(IStream* stream) override {
        if (!stream)
            return E_POINTER;
        std::u16string delimiter, item;
        HRESULT hr = ReadCountedWide(stream, delimiter);
        if (SUCCEEDED(hr))
            hr = ReadCountedWide(stream, item);
        if (FAILED(hr))
            return hr;
        std::lock_guard lock(m_lock);
        m_delimiter = std::move(delimiter);
        m_item = std::move(item);
        return S_OK;
    }

    HRESULT Save(IStream* stream, BOOL) override {
        if (!stream)
            return E_POINTER;
        std::u16string delimiter, item;
        {
            std::lock_guard lock(m_lock);
            delimiter = m_delimiter;
            item = m_item;
        }
        HRESULT hr = WriteCountedWide(stream, delimiter);
        return FAILED(hr) ? hr : WriteCountedWide(stream, item);
    }

    HRESULT GetSizeMax(uint64_t* size) override {
        if (!size)
            return E_POINTER;
        std::lock_guard lock(m_lock);
        *size = 8 + (m_delimiter.size() + 1) * 2 + (m_item.size() + 1) * 2;
        return S_OK;
    }

    // Binds to the object registered under this name in the running object
    // table.
    HRESULT BindToObject(IBindCtx*, IMoniker* left, REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (left)
            return E_INVALIDARG;
        ComPtr<IRunningObjectTable> rot;
        HRESULT hr = GetRunningObjectTable(0, rot.ReleaseAndGetAddressOf());
        if (FAILED(hr))
            return hr;
        ComPtr<IUnknown> object;
        if (rot->GetObject(this, object.ReleaseAndGetAddressOf()) != S_OK)
            return MK_E_NOOBJECT;
        return object->QueryInterface(riid, out);
    }

    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID, void** out) override {
        if (out)
            *out = nullptr;
        return MK_E_NOSTORAGE;
    }

    HRESULT IsEqual(IMoniker* other) override {
        if (!other)
            return E_INVALIDARG;
        DWORD sys = MKSYS_NONE;
        if (FAILED(other->IsSystemMoniker(&sys)) || sys != MKSYS_ITEMMONIKER)
            return S_FALSE;
        return EqualsNoCase(DisplayNameOf(other), Name()) ? S_OK : S_FALSE;
    }

    HRESULT Hash(DWORD* hash) override {
        if (!hash)
            return E_POINTER;
        *hash = HashName(Name());
        return S_OK;
    }

    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
        return ReturnDisplayName(Name(), name);
    }

    HRESULT IsSystemMoniker(DWORD* mksys) override {
        if (!mksys)
            return E_POINTER;
        *mksys = MKSYS_ITEMMONIKER;
        return S_OK;
    }

private:
    std::u16string Name() const {
        std::lock_guard lock(m_lock);
        return m_delimiter + m_item;
    }

    mutable std::mutex m_lock;
    // Guarded by m_lock.
    std::u16string m_delimiter;
    std::u16string m_item;
};

// --- Enumerator ---------------------------------------------------------------------

class MonikerEnum final : public ComObject<IEnumMoniker> {
public:
    MonikerEnum(std::shared_ptr<const std::vector<ComPtr<IMoniker>>> items, size_t position)
        : m_items(std::move(items)), m_position(position) {}

    HRESULT Next(ULONG count, IMoniker** out, ULONG* fetched) override {
        if (fetched)
            *fetched = 0;
        if (!out || (count != 1 && !fetched))
            return E_POINTER;
        std::lock_guard lock(m_lock);
        ULONG n = 0;
        for (; n < count && m_position < m_items->size(); ++n, ++m_position) {
            out[n] = (*m_items)[m_position].Get();
            out[n]->AddRef();
        }
        for (ULONG i = n; i < count; ++i)
            out[i] = nullptr;
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }

    HRESULT Skip(ULONG count) override {
        std::lock_guard lock(m_lock);
        size_t left = m_items->size() - m_position;
        if (count > left) {
            m_position = m_items->size();
            return S_FALSE;
        }
        m_position += count;
        return S_OK;
    }

    HRESULT Reset() override {
        std::lock_guard lock(m_lock);
        m_position = 0;
        return S_OK;
    }

    HRESULT Clone(IEnumMoniker** out) override {
        if (!out)
            return E_POINTER;
        std::lock_guard lock(m_lock);
        *out = MakeCom<MonikerEnum>(m_items, m_position).Detach();
        return S_OK;
    }

private:
    const std::shared_ptr<const std::vector<ComPtr<IMoniker>>> m_items;
    std::mutex m_lock;
    // Guarded by m_lock.
    size_t m_position = 0;
};

}  // namespace

std::optional<DeviceDisplayName> ParseDeviceDisplayName(std::u16string_view name) {
    constexpr std::u16string_view prefix = u"@device:";
    if (!StartsWithNoCase(name, prefix))
        return std::nullopt;
    std::u16string_view rest = name.substr(prefix.size());
    DeviceDisplayName out;
    if (StartsWithNoCase(rest, u"cm:") || StartsWithNoCase(rest, u"sw:")) {
        bool software = StartsWithNoCase(rest, u"sw:");
        rest = rest.substr(3);
        if (rest.size() < 40 || rest[38] != u'\\')
            return std::nullopt;
        auto category = ParseWideGuid(rest.substr(0, 38));
        if (!category)
            return std::nullopt;
        out.category = *category;
        out.item = std::u16string(rest.substr(39));
        if (out.item.empty())
            return std::nullopt;
        if (software) {
            auto clsid = ParseWideGuid(out.item);
            if (!clsid)
                return std::nullopt;
            out.kind = DeviceNameKind::Software;
            out.clsid = *clsid;
        }
        return out;
    }
    if (StartsWithNoCase(rest, u"pnp:")) {
        rest = rest.substr(4);
        if (rest.size() < 40 || rest[rest.size() - 39] != u'\\')
            return std::nullopt;
        auto category = ParseWideGuid(rest.substr(rest.size() - 38));
        if (!category)
            return std::nullopt;
        out.kind = DeviceNameKind::Pnp;
        out.category = *category;
        out.item = std::u16string(rest.substr(0, rest.size() - 39));
        return out;
    }
    return std::nullopt;
}

HRESULT CreateDeviceMoniker(std::u16string_view display_name, IMoniker** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!ParseDeviceDisplayName(display_name))
        return MK_E_SYNTAX;
    try {
        *out = MakeCom<DeviceMoniker>(std::u16string(display_name), std::nullopt).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT MkParseDisplayName(IBindCtx*, LPCOLESTR name, ULONG* eaten, IMoniker** out) {
    if (eaten)
        *eaten = 0;
    if (!name)
        return E_INVALIDARG;
    HRESULT hr = CreateDeviceMoniker(WideView(name), out);
    if (SUCCEEDED(hr) && eaten)
        *eaten = static_cast<ULONG>(WideLength(name));
    return hr;
}

HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!item)
        return E_INVALIDARG;
    try {
        *out = MakeCom<ItemMoniker>(std::u16string(WideView(delimiter)),
                                    std::u16string(WideView(item)))
                   .Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::u16string DisplayNameOf(IMoniker* moniker) {
    if (!moniker)
        return {};
    LPOLESTR name = nullptr;
    if (FAILED(moniker->GetDisplayName(nullptr, nullptr, &name)) || !name)
        return {};
    std::u16string out(WideView(name));
    CoTaskMemFree(name);
    return out;
}

HRESULT CreatePropertyBag(const std::map<std::string, std::string>& text_values,
                          IPropertyBag** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    try {
        auto bag = MakeCom<PropertyBag>();
        for (const auto& [name, value] : text_values)
            bag->Set(ToUtf16(name), value);
        *out = bag.Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::optional<std::string> ReadBagString(IPropertyBag* bag, std::u16string_view name) {
    if (!bag)
        return std::nullopt;
    std::u16string z(name);
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = nullptr;
    if (FAILED(bag->Read(z.c_str(), &v, nullptr)) || v.vt != VT_BSTR) {
        VariantClear(&v);
        return std::nullopt;
    }
    std::string text =
        ToUtf8(std::u16string_view(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)));
    VariantClear(&v);
    return text;
}

namespace detail {

HRESULT CreateEnumeratedMoniker(const Device& device, IMoniker** out) {
    if (!out)
        return E_POINTER;
    try {
        *out = MakeCom<DeviceMoniker>(device.display_name, device.description).Detach();
    } catch (const std::bad_alloc&) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CreateMonikerEnum(std::vector<ComPtr<IMoniker>> monikers, IEnumMoniker** out) {
    if (!out)
        return E_POINTER;
    try {
        auto items = std::make_shared<const std::vector<ComPtr<IMoniker>>>(std::move(monikers));
        *out = MakeCom<MonikerEnum>(std::move(items), 0).Detach();
    } catch (const std::bad_alloc&) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CreateDeviceMonikerInstance(REFIID riid, void** out) {
    auto moniker = MakeCom<DeviceMoniker>();
    return moniker->QueryInterface(riid, out);
}

HRESULT CreateItemMonikerInstance(REFIID riid, void** out) {
    auto moniker = MakeCom<ItemMoniker>();
    return moniker->QueryInterface(riid, out);
}

}  // namespace detail

}  // namespace ronvix::com
