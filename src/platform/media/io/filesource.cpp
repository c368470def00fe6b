// The File Source (Async): a file opened for reading, offered to the filter
// downstream through IAsyncReader. See filesource.h.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "platform/com/oleauto.h"
#include "platform/media/core/filter.h"
#include "platform/media/core/sample.h"
#include "platform/media/io/filesource.h"
#include "platform/win/paths.h"

namespace ronvix::media {

using namespace com;

namespace {

constexpr REFERENCE_TIME kUnitsPerByte = 10'000'000;

class FileSource;

class AsyncOutputPin final : public BaseOutputPin, public IAsyncReader {
public:
    explicit AsyncOutputPin(FileSource& filter);
    ~AsyncOutputPin() override { CloseFile(); }

    ULONG AddRef() override { return BasePin::AddRef(); }
    ULONG Release() override { return BasePin::Release(); }
    HRESULT QueryInterface(REFIID riid, void** out) override {
        return BasePin::QueryInterface(riid, out);
    }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        std::lock_guard guard(m_lock);
        return mt.majortype == m_type->majortype &&
                       (mt.subtype == m_type->subtype || mt.subtype == GUID_NULL)
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }
    std::vector<MediaType> OfferedTypes() override {
        std::lock_guard guard(m_lock);
        if (m_fd < 0)
            return {};
        return {m_type};
    }

    // The pin has exactly one type, so a connection proposes it as it is and
    // the receiving pin's own result (a file it cannot read, say) reaches
    // the caller instead of a generic "no acceptable types".
    HRESULT Connect(IPin* receive_pin, const AM_MEDIA_TYPE* mt) override {
        std::vector<MediaType> own = OfferedTypes();
        if (own.empty())
            return VFW_E_NO_ACCEPTABLE_TYPES;
        if (!mt || !IsComplete(*mt))
            if (!mt || MatchesPartial(own.front().Get(), mt))
                return BaseOutputPin::Connect(receive_pin, &own.front().Get());
        return BaseOutputPin::Connect(receive_pin, mt);
    }

    // Control thread, before any connection.
    HRESULT Open(const std::string& path, const MediaType& type) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0)
            return errno == ENOENT || errno == ENOTDIR ? VFW_E_NOT_FOUND : HResultFromErrno(errno);
        if (!S_ISREG(info.st_mode))
            return VFW_E_NOT_FOUND;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return HResultFromErrno(errno);
        std::lock_guard guard(m_lock);
        m_fd = fd;
        m_type = type;
        return S_OK;
    }
    bool IsOpen() const {
        std::lock_guard guard(m_lock);
        return m_fd >= 0;
    }

    // IAsyncReader. Reads use pread, so concurrent readers never share a
    // file position.
    HRESULT RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                             IMemAllocator** actual) override {
        if (!props || !actual)
            return E_POINTER;
        *actual = nullptr;
        ComPtr<IMemAllocator> allocator(preferred);
        if (!allocator)
            allocator = MakeCom<MemAllocator>();
        ALLOCATOR_PROPERTIES got{};
        const HRESULT hr = allocator->SetProperties(props, &got);
        if (FAILED(hr))
            return hr;
        *actual = allocator.Detach();
        return S_OK;
    }

    HRESULT Request(IMediaSample* sample, DWORD_PTR user) override {
        if (!sample)
            return E_POINTER;
        std::lock_guard guard(m_lock);
        if (m_flushing)
            return VFW_E_WRONG_STATE;
        m_requests.push_back({ComPtr<IMediaSample>(sample), user});
        m_requests_cv.notify_one();
        return S_OK;
    }

    HRESULT WaitForNext(DWORD timeout_ms, IMediaSample** sample, DWORD_PTR* user) override {
        if (!sample || !user)
            return E_POINTER;
        *sample = nullptr;
        *user = 0;
        Pending next;
        bool flushed = false;
        {
            std::unique_lock guard(m_lock);
            const bool ready =
                m_requests_cv.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                                       [&] { return m_flushing || !m_requests.empty(); });
            if (!ready || m_requests.empty())
                return VFW_E_TIMEOUT;
            next = std::move(m_requests.front());
            m_requests.pop_front();
            flushed = m_flushing;
        }
        *user = next.user;
        const HRESULT hr = flushed ? VFW_E_WRONG_STATE : SyncReadAligned(next.sample.Get());
        *sample = next.sample.Detach();
        return hr;
    }

    HRESULT SyncReadAligned(IMediaSample* sample) override {
        if (!sample)
            return E_POINTER;
        REFERENCE_TIME start = 0, stop = 0;
        if (FAILED(sample->GetTime(&start, &stop)) || stop < start || start < 0)
            return E_INVALIDARG;
        const LONGLONG position = start / kUnitsPerByte;
        const LONGLONG length = (stop - start) / kUnitsPerByte;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (!data || length > sample->GetSize())
            return E_INVALIDARG;
        const HRESULT hr = SyncRead(position, static_cast<LONG>(length), data);
        if (FAILED(hr))
            return hr;
        LONGLONG total = 0;
        Length(&total, nullptr);
        const LONGLONG got = std::clamp<LONGLONG>(total - position, 0, length);
        sample->SetActualDataLength(static_cast<LONG>(got));
        return hr;
    }

    HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override {
        if (!buffer)
            return E_POINTER;
        // A position from a file's headers may be anything: the last byte
        // asked for must still be a file offset.
        if (position < 0 || length < 0 || position > INT64_MAX - length)
            return E_INVALIDARG;
        int fd = -1;
        {
            std::lock_guard guard(m_lock);
            fd = m_fd;
        }
        if (fd < 0)
            return VFW_E_NOT_CONNECTED;
        LONG done = 0;
        while (done < length) {
            const ssize_t n = ::pread(fd, buffer + done, size_t(length - done), position + done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return HResultFromErrno(errno);
            }
            if (n == 0)
                break;
            done += static_cast<LONG>(n);
        }
        if (done < length) {
            std::memset(buffer + done, 0, size_t(length - done));
            return S_FALSE;
        }
        return S_OK;
    }

    HRESULT Length(LONGLONG* total, LONGLONG* available) override {
        int fd = -1;
        {
            std::lock_guard guard(m_lock);
            fd = m_fd;
        }
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0)
            return VFW_E_NOT_CONNECTED;
        if (total)
            *total = info.st_size;
        if (available)
            *available = info.st_size;
        return S_OK;
    }

    HRESULT BeginFlush() override {
        std::lock_guard guard(m_lock);
        m_flushing = true;
        m_requests_cv.notify_all();
        return S_OK;
    }
    HRESULT EndFlush() override {
        std::lock_guard guard(m_lock);
        m_flushing = false;
        return S_OK;
    }

protected:
    HRESULT QueryPinInterface(REFIID riid, void** out) override {
        if (riid == IAsyncReader::iid) {
            *out = static_cast<IAsyncReader*>(this);
            AddRef();
            return S_OK;
        }
        return BasePin::QueryPinInterface(riid, out);
    }
    // Bytes are pulled through IAsyncReader; nothing is pushed.
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES&) override { return S_FALSE; }

private:
    struct Pending {
        ComPtr<IMediaSample> sample;
        DWORD_PTR user = 0;
    };

    void CloseFile() {
        std::lock_guard guard(m_lock);
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    mutable std::mutex m_lock;
    std::condition_variable m_requests_cv;
    // Guarded by m_lock.
    int m_fd = -1;
    MediaType m_type;
    bool m_flushing = false;
    std::deque<Pending> m_requests;
};

class FileSource final : public BaseFilter, public IFileSourceFilter {
public:
    FileSource() : BaseFilter(CLSID_AsyncReader) {
        m_out = static_cast<AsyncOutputPin*>(AddPin(std::make_unique<AsyncOutputPin>(*this)));
    }

    ULONG AddRef() override { return BaseFilter::AddRef(); }
    ULONG Release() override { return BaseFilter::Release(); }
    HRESULT QueryInterface(REFIID riid, void** out) override {
        return BaseFilter::QueryInterface(riid, out);
    }

    HRESULT Load(LPCWSTR file, const AM_MEDIA_TYPE* mt) override {
        if (!file)
            return E_POINTER;
        std::lock_guard guard(ControlLock());
        if (m_out->IsOpen())
            return E_UNEXPECTED;
        const std::u16string name(WideView(file));
        const std::optional<std::string> path = win::MapPath(ToUtf8(name));
        if (!path || path->empty())
            return VFW_E_NOT_FOUND;
        MediaType type;
        if (mt && mt->majortype != GUID_NULL) {
            type = MediaType(*mt);
        } else {
            type->majortype = MEDIATYPE_Stream;
            type->subtype = MEDIASUBTYPE_Avi;
            type->formattype = FORMAT_None;
            type->lSampleSize = 1;
        }
        const HRESULT hr = m_out->Open(*path, type);
        if (SUCCEEDED(hr))
            m_name = name;
        return hr;
    }

    HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* mt) override {
        if (!file)
            return E_POINTER;
        *file = nullptr;
        std::lock_guard guard(ControlLock());
        if (m_name.empty())
            return E_FAIL;
        if (mt) {
            *mt = AM_MEDIA_TYPE{};
            std::vector<MediaType> types = m_out->OfferedTypes();
            if (!types.empty())
                CopyMediaType(mt, &types.front().Get());
        }
        *file = CoTaskMemDup(m_name);
        return *file ? S_OK : E_OUTOFMEMORY;
    }

protected:
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == IFileSourceFilter::iid)
            return ReturnInterface<IFileSourceFilter>(this, out);
        return BaseFilter::QueryInterfaceExtra(riid, out);
    }

private:
    AsyncOutputPin* m_out = nullptr;
    std::u16string m_name;  // Guarded by the control lock.
};

AsyncOutputPin::AsyncOutputPin(FileSource& filter) : BaseOutputPin(filter, u"Output") {}

}  // namespace

HRESULT CreateFileSource(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    ComPtr<FileSource> source = MakeCom<FileSource>();
    return source->QueryInterface(riid, out);
}

ClassEntry FileSourceClassEntry() {
    return {CLSID_AsyncReader, "File Source (Async.)", CreateFileSource, MERIT_DO_NOT_USE, {}};
}

}  // namespace ronvix::media
