#pragma once
// The storage, persistence, moniker and enumeration interfaces of the object
// model. Methods keep the platform's names, order of arguments and results;
// only what this system uses is declared.

#include <cstdint>

#include "platform/com/oleauto.h"
#include "platform/com/unknwn.h"

namespace ronvix::com {

// Bind contexts are accepted and ignored: every bind in this process is
// immediate and in-process, so callers pass null.
struct IBindCtx;

// --- Streams -----------------------------------------------------------------

enum : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };
enum : DWORD { STGTY_STORAGE = 1, STGTY_STREAM = 2, STGTY_LOCKBYTES = 3 };
enum : DWORD { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1 };

struct STATSTG {
    LPOLESTR pwcsName = nullptr;  // task-allocated, or null (memory streams have no name)
    DWORD type = STGTY_STREAM;
    uint64_t cbSize = 0;
};

struct ISequentialStream : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
    using base = IUnknown;
    // Reads up to `cb` bytes; S_OK also for a short read at the end (the count
    // says how many). `read` may be null.
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* read) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* written) = 0;

protected:
    ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
    static constexpr GUID iid = RONVIX_GUID("{0000000C-0000-0000-C000-000000000046}");
    using base = ISequentialStream;
    virtual HRESULT Seek(int64_t move, DWORD origin, uint64_t* new_position) = 0;
    virtual HRESULT SetSize(uint64_t new_size) = 0;
    virtual HRESULT CopyTo(IStream* dest, uint64_t cb, uint64_t* read, uint64_t* written) = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(uint64_t offset, uint64_t cb, DWORD type) = 0;
    virtual HRESULT UnlockRegion(uint64_t offset, uint64_t cb, DWORD type) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
    virtual HRESULT Clone(IStream** out) = 0;

protected:
    ~IStream() = default;
};

// --- Persistence -------------------------------------------------------------

struct IPersist : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{0000010C-0000-0000-C000-000000000046}");
    using base = IUnknown;
    virtual HRESULT GetClassID(CLSID* clsid) = 0;

protected:
    ~IPersist() = default;
};

struct IPersistStream : IPersist {
    static constexpr GUID iid = RONVIX_GUID("{00000109-0000-0000-C000-000000000046}");
    using base = IPersist;
    virtual HRESULT IsDirty() = 0;
    // Loads from the stream's current position; on failure the object is
    // unchanged and the stream position is unspecified.
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, BOOL clear_dirty) = 0;
    virtual HRESULT GetSizeMax(uint64_t* size) = 0;

protected:
    ~IPersistStream() = default;
};

// --- Property bags -----------------------------------------------------------

struct IErrorLog : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{3127CA40-446E-11CE-8135-00AA004BB851}");
    using base = IUnknown;

protected:
    ~IErrorLog() = default;
};

struct IPropertyBag : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{55272A00-42CB-11CE-8135-00AA004BB851}");
    using base = IUnknown;
    // Reads property `name` into `var`. When var->vt is VT_EMPTY the value
    // comes in its stored type; otherwise it is converted to var->vt. A
    // missing property fails with E_INVALIDARG and leaves `var` unchanged.
    virtual HRESULT Read(LPCOLESTR name, VARIANT* var, IErrorLog* log) = 0;
    virtual HRESULT Write(LPCOLESTR name, VARIANT* var) = 0;

protected:
    ~IPropertyBag() = default;
};

// --- Monikers ------------------------------------------------------------------

enum : DWORD {
    MKSYS_NONE = 0,
    MKSYS_GENERICCOMPOSITEMONIKER = 1,
    MKSYS_FILEMONIKER = 2,
    MKSYS_ANTIMONIKER = 3,
    MKSYS_ITEMMONIKER = 4,
    MKSYS_POINTERMONIKER = 5
};

inline constexpr HRESULT MK_E_NOSTORAGE = MakeHr(0x800401ED);
inline constexpr HRESULT MK_E_NOTBINDABLE = MakeHr(0x800401E8);
inline constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = MakeHr(0x000401E7);

struct IMoniker : IPersistStream {
    static constexpr GUID iid = RONVIX_GUID("{0000000F-0000-0000-C000-000000000046}");
    using base = IPersistStream;
    // A new object every call; MK_E_NOOBJECT when what the name names does not
    // exist now. `ctx` and `left` must be null (composites are not supported).
    virtual HRESULT BindToObject(IBindCtx* ctx, IMoniker* left, REFIID riid, void** out) = 0;
    virtual HRESULT BindToStorage(IBindCtx* ctx, IMoniker* left, REFIID riid, void** out) = 0;
    // S_OK when `other` names the same thing, S_FALSE otherwise.
    virtual HRESULT IsEqual(IMoniker* other) = 0;
    virtual HRESULT Hash(DWORD* hash) = 0;
    // The display name from the task allocator; the caller frees it.
    virtual HRESULT GetDisplayName(IBindCtx* ctx, IMoniker* left, LPOLESTR* name) = 0;
    virtual HRESULT IsSystemMoniker(DWORD* mksys) = 0;

protected:
    ~IMoniker() = default;
};

struct IEnumMoniker : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{00000102-0000-0000-C000-000000000046}");
    using base = IUnknown;
    // S_OK when `count` monikers were delivered, S_FALSE when fewer (the rest
    // of `out` is null). `fetched` may be null only when `count` is 1.
    virtual HRESULT Next(ULONG count, IMoniker** out, ULONG* fetched) = 0;
    // S_OK when `count` items were skipped, S_FALSE when the end came first.
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** out) = 0;

protected:
    ~IEnumMoniker() = default;
};

// --- Running object table -----------------------------------------------------

enum : DWORD { ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1, ROTFLAGS_ALLOWANYCLIENT = 0x2 };

struct IRunningObjectTable : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{00000010-0000-0000-C000-000000000046}");
    using base = IUnknown;
    // Holds a reference to `object` until Revoke. A name already registered
    // is registered again and answers MK_S_MONIKERALREADYREGISTERED.
    virtual HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) = 0;
    // E_INVALIDARG for a cookie that is not registered.
    virtual HRESULT Revoke(DWORD cookie) = 0;
    virtual HRESULT IsRunning(IMoniker* name) = 0;
    virtual HRESULT GetObject(IMoniker* name, IUnknown** out) = 0;
    virtual HRESULT EnumRunning(IEnumMoniker** out) = 0;

protected:
    ~IRunningObjectTable() = default;
};

// --- Device enumeration --------------------------------------------------------

struct ICreateDevEnum : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{29840822-5B84-11D0-BD3B-00A0C911CE86}");
    using base = IUnknown;
    // The devices of `category` as they are now, in a stable order. An empty
    // or unknown category answers S_FALSE with a null enumerator.
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) = 0;

protected:
    ~ICreateDevEnum() = default;
};

inline constexpr GUID IID_IStream = IStream::iid;
inline constexpr GUID IID_IPersistStream = IPersistStream::iid;
inline constexpr GUID IID_IPropertyBag = IPropertyBag::iid;
inline constexpr GUID IID_IMoniker = IMoniker::iid;
inline constexpr GUID IID_IEnumMoniker = IEnumMoniker::iid;
inline constexpr GUID IID_ICreateDevEnum = ICreateDevEnum::iid;
inline constexpr GUID IID_IRunningObjectTable = IRunningObjectTable::iid;

}  // namespace ronvix::com
