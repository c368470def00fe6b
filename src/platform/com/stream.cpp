#include "platform/com/stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/com/classregistry.h"
#include "platform/com/object.h"

namespace ronvix::com {

namespace {

// Memory streams refuse to grow past this size rather than let a seek to a
// huge offset followed by a write allocate without bound.
constexpr uint64_t kMaxStreamBytes = uint64_t{1} << 31;

// The bytes shared by a stream and its clones.
struct StreamBuffer {
    std::mutex lock;
    // Guarded by lock.
    std::vector<uint8_t> bytes;
};

class MemoryStream final : public ComObject<IStream> {
public:
    explicit MemoryStream(std::shared_ptr<StreamBuffer> buffer, uint64_t position = 0)
        : m_buffer(std::move(buffer)), m_position(position) {}

    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        if (read)
            *read = 0;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        std::lock_guard lock(m_buffer->lock);
        const auto& bytes = m_buffer->bytes;
        uint64_t available = m_position < bytes.size() ? bytes.size() - m_position : 0;
        ULONG n = static_cast<ULONG>(std::min<uint64_t>(cb, available));
        if (n)
            std::memcpy(pv, bytes.data() + m_position, n);
        m_position += n;
        if (read)
            *read = n;
        return S_OK;
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
        if (written)
            *written = 0;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        std::lock_guard lock(m_buffer->lock);
        auto& bytes = m_buffer->bytes;
        uint64_t end = m_position + cb;
        if (end > kMaxStreamBytes)
            return STG_E_MEDIUMFULL;
        try {
            if (end > bytes.size())
                bytes.resize(static_cast<size_t>(end));
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        if (cb)
            std::memcpy(bytes.data() + m_position, pv, cb);
        m_position = end;
        if (written)
            *written = cb;
        return S_OK;
    }

    HRESULT Seek(int64_t move, DWORD origin, uint64_t* new_position) override {
        std::lock_guard lock(m_buffer->lock);
        int64_t base = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<int64_t>(m_position);
                break;
            case STREAM_SEEK_END:
                base = static_cast<int64_t>(m_buffer->bytes.size());
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        if ((move < 0 && base + move < 0) ||
            (move > 0 && static_cast<uint64_t>(move) > kMaxStreamBytes))
            return STG_E_INVALIDFUNCTION;
        m_position = static_cast<uint64_t>(base + move);
        if (new_position)
            *new_position = m_position;
        return S_OK;
    }

    HRESULT SetSize(uint64_t new_size) override {
        if (new_size > kMaxStreamBytes)
            return STG_E_MEDIUMFULL;
        std::lock_guard lock(m_buffer->lock);
        try {
            m_buffer->bytes.resize(static_cast<size_t>(new_size));
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }

    HRESULT CopyTo(IStream* dest, uint64_t cb, uint64_t* read, uint64_t* written) override {
        if (read)
            *read = 0;
        if (written)
            *written = 0;
        if (!dest)
            return STG_E_INVALIDPOINTER;
        std::vector<uint8_t> chunk;
        {
            std::lock_guard lock(m_buffer->lock);
            const auto& bytes = m_buffer->bytes;
            uint64_t available = m_position < bytes.size() ? bytes.size() - m_position : 0;
            uint64_t n = std::min(cb, available);
            chunk.assign(bytes.begin() + static_cast<ptrdiff_t>(m_position),
                         bytes.begin() + static_cast<ptrdiff_t>(m_position + n));
            m_position += n;
        }
        if (read)
            *read = chunk.size();
        ULONG done = 0;
        HRESULT hr = dest->Write(chunk.data(), static_cast<ULONG>(chunk.size()), &done);
        if (written)
            *written = done;
        return hr;
    }

    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(uint64_t, uint64_t, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(uint64_t, uint64_t, DWORD) override { return STG_E_INVALIDFUNCTION; }

    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (!stat)
            return STG_E_INVALIDPOINTER;
        std::lock_guard lock(m_buffer->lock);
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize = m_buffer->bytes.size();
        return S_OK;
    }

    HRESULT Clone(IStream** out) override {
        if (!out)
            return STG_E_INVALIDPOINTER;
        uint64_t position = 0;
        {
            std::lock_guard lock(m_buffer->lock);
            position = m_position;
        }
        *out = MakeCom<MemoryStream>(m_buffer, position).Detach();
        return S_OK;
    }

private:
    std::shared_ptr<StreamBuffer> m_buffer;
    // Guarded by m_buffer->lock.
    uint64_t m_position = 0;
};

}  // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL hglobal, BOOL, IStream** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (hglobal)
        return E_INVALIDARG;
    try {
        *out = MakeCom<MemoryStream>(std::make_shared<StreamBuffer>()).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CreateMemoryStream(std::span<const uint8_t> bytes, IStream** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (bytes.size() > kMaxStreamBytes)
        return STG_E_MEDIUMFULL;
    try {
        auto buffer = std::make_shared<StreamBuffer>();
        buffer->bytes.assign(bytes.begin(), bytes.end());
        *out = MakeCom<MemoryStream>(std::move(buffer)).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::vector<uint8_t> ReadWholeStream(IStream* stream) {
    std::vector<uint8_t> out;
    if (!stream)
        return out;
    STATSTG stat;
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize > kMaxStreamBytes)
        return out;
    if (FAILED(stream->Seek(0, STREAM_SEEK_SET, nullptr)))
        return out;
    out.resize(static_cast<size_t>(stat.cbSize));
    ULONG read = 0;
    if (FAILED(stream->Read(out.data(), static_cast<ULONG>(out.size()), &read)))
        read = 0;
    out.resize(read);
    return out;
}

HRESULT ReadExact(IStream* stream, void* pv, ULONG cb) {
    ULONG read = 0;
    HRESULT hr = stream->Read(pv, cb, &read);
    if (FAILED(hr))
        return hr;
    return read == cb ? S_OK : STG_E_READFAULT;
}

HRESULT OleSaveToStream(IPersistStream* object, IStream* stream) {
    if (!stream)
        return E_INVALIDARG;
    if (!object)
        return E_INVALIDARG;
    CLSID clsid;
    HRESULT hr = object->GetClassID(&clsid);
    if (FAILED(hr))
        return hr;
    auto bytes = clsid.ToBytes();
    ULONG written = 0;
    hr = stream->Write(bytes.data(), 16, &written);
    if (FAILED(hr))
        return hr;
    if (written != 16)
        return STG_E_WRITEFAULT;
    return object->Save(stream, TRUE);
}

HRESULT OleLoadFromStream(IStream* stream, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!stream)
        return E_INVALIDARG;
    uint8_t bytes[16];
    HRESULT hr = ReadExact(stream, bytes, 16);
    if (FAILED(hr))
        return hr;
    CLSID clsid = *GUID::FromBytes(bytes);
    ComPtr<IPersistStream> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC, IPersistStream::iid, object.OutVoid());
    if (FAILED(hr))
        return hr;
    hr = object->Load(stream);
    if (FAILED(hr))
        return hr;
    return object->QueryInterface(riid, out);
}

}  // namespace ronvix::com
