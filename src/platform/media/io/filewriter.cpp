// The File Writer: positioned blocks, queued in order, written by a
// write-behind thread. See filewriter.h for the contract.

#include "platform/media/io/filewriter.h"
#include "platform/media/core/filterentry.h"

#include <unistd.h>
#include <atomic>

#include <pthread.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/oleauto.h"
#include "platform/media/core/filter.h"
#include "platform/win/files.h"

namespace ronvix::media {

using namespace com;

namespace {

int DefaultDiskWrite(int fd, const uint8_t* data, size_t size, int64_t offset, std::stop_token) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return 0;
}

class FileWriter;

class WriterInputPin final : public BaseInputPin, public IStream {
public:
    explicit WriterInputPin(FileWriter& writer);

    HRESULT QueryInterface(REFIID riid, void** out) override;
    ULONG AddRef() override { return BaseInputPin::AddRef(); }
    ULONG Release() override { return BaseInputPin::Release(); }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return mt.majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    // IStream: the producer's positioned writes. One producer at a time.
    HRESULT Read(void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override;
    HRESULT Seek(int64_t move, DWORD origin, uint64_t* new_position) override;
    HRESULT SetSize(uint64_t) override { return S_OK; }
    HRESULT CopyTo(IStream*, uint64_t, uint64_t*, uint64_t*) override { return E_NOTIMPL; }
    HRESULT Commit(DWORD flags) override;
    HRESULT Revert() override { return E_NOTIMPL; }
    HRESULT LockRegion(uint64_t, uint64_t, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(uint64_t, uint64_t, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG* stat, DWORD flags) override;
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }

    void ResetPosition() {
        std::lock_guard guard(m_position_lock);
        m_position = 0;
    }

private:
    FileWriter& m_writer;
    std::mutex m_position_lock;
    uint64_t m_position = 0;  // Guarded by m_position_lock.
};

class FileWriter final : public BaseFilter,
                         public IFileSinkFilter,
                         public IFileWriterQueue,
                         public IFileWriterChain,
                         public IFileWriterSync {
public:
    FileWriter() : BaseFilter(CLSID_FileWriter) {
        m_input = static_cast<WriterInputPin*>(AddPin(std::make_unique<WriterInputPin>(*this)));
    }
    ~FileWriter() override {
        StopThread();
        CloseFile();
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return BaseFilter::QueryInterface(riid, out);
    }
    ULONG AddRef() override { return BaseFilter::AddRef(); }
    ULONG Release() override { return BaseFilter::Release(); }

    // IFileSinkFilter; control thread.
    HRESULT SetFileName(LPCWSTR file, const AM_MEDIA_TYPE* mt) override {
        (void)mt;
        if (!file)
            return E_POINTER;
        if (!*file)
            return E_INVALIDARG;
        std::lock_guard guard(m_lock);
        m_file_name = std::u16string(WideView(file));
        return S_OK;
    }
    HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* mt) override {
        if (!file)
            return E_POINTER;
        std::lock_guard guard(m_lock);
        *file = nullptr;
        if (mt) {
            *mt = AM_MEDIA_TYPE{};
            mt->majortype = MEDIATYPE_Stream;
            mt->subtype = MEDIASUBTYPE_Avi;
            mt->formattype = FORMAT_None;
        }
        if (m_file_name.empty())
            return E_FAIL;
        *file = CoTaskMemDup(m_file_name);
        return *file ? S_OK : E_OUTOFMEMORY;
    }

    // IFileWriterQueue.
    HRESULT SetQueueLimits(uint64_t low, uint64_t high, uint64_t limit) override {
        if (!(low < high && high <= limit))
            return E_INVALIDARG;
        std::lock_guard guard(m_lock);
        m_low = low;
        m_high = high;
        m_limit = limit;
        m_fixed_limit = true;
        return S_OK;
    }
    HRESULT GetQueuedBytes(uint64_t* bytes) override {
        if (!bytes)
            return E_POINTER;
        std::lock_guard guard(m_lock);
        *bytes = m_queued_bytes;
        return S_OK;
    }
    HRESULT GetFileSize(uint64_t* bytes) override {
        if (!bytes)
            return E_POINTER;
        std::lock_guard guard(m_lock);
        *bytes = m_earlier_files_bytes + m_size;  // The whole run's, over every file.
        return S_OK;
    }
    HRESULT GetRoom(uint64_t* bytes) override {
        if (!bytes)
            return E_POINTER;
        std::lock_guard guard(m_lock);
        const uint64_t limit = EffectiveLimit();
        *bytes = m_queued_bytes < limit ? limit - m_queued_bytes : 0;
        return S_OK;
    }
    HRESULT WriteParts(uint64_t offset, std::span<const std::span<const uint8_t>> parts) override;
    HRESULT Barrier() override;
    HRESULT SetDiskWrite(DiskWrite write) override {
        std::lock_guard guard(m_lock);
        if (m_thread.joinable())
            return VFW_E_NOT_STOPPED;
        m_disk = write ? std::move(write) : DiskWrite(DefaultDiskWrite);
        return S_OK;
    }

    // IFileWriterSync.
    HRESULT SetBarrierSync(bool sync) override {
        m_barrier_sync.store(sync);
        return S_OK;
    }
    HRESULT GetBarrierSync(bool* sync) override {
        if (!sync)
            return E_POINTER;
        *sync = m_barrier_sync.load();
        return S_OK;
    }

    // IFileWriterChain.
    HRESULT SetFileSizeLimit(uint64_t bytes) override {
        std::lock_guard guard(m_lock);
        if (m_thread.joinable())
            return VFW_E_NOT_STOPPED;
        m_size_limit = bytes;
        return S_OK;
    }
    HRESULT GetFileSizeLimit(uint64_t* bytes) override {
        if (!bytes)
            return E_POINTER;
        std::lock_guard guard(m_lock);
        *bytes = m_size_limit;
        return S_OK;
    }
    HRESULT GetFileCount(uint32_t* files) override {
        if (!files)
            return E_POINTER;
        std::lock_guard guard(m_lock);
        *files = m_file_count;
        return S_OK;
    }
    HRESULT KeepFrom(uint64_t offset) override {
        std::lock_guard guard(m_lock);
        m_keep_from = offset;
        std::erase_if(m_kept, [&](const KeptBlock& b) { return b.offset < offset; });
        return S_OK;
    }
    HRESULT Drain() override {
        std::unique_lock guard(m_lock);
        WaitDrained(guard);
        return m_error;
    }
    HRESULT GetWrittenEnd(uint64_t* bytes) override {
        if (!bytes)
            return E_POINTER;
        std::lock_guard guard(m_lock);
        *bytes = m_written_end;
        return S_OK;
    }
    HRESULT NextFile(uint64_t length, std::vector<KeptBlock>* kept) override;

    // The producer side, from the pin's IStream or its samples. Any thread.
    HRESULT WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
        const std::span<const uint8_t> parts[] = {{data, size}};
        return WriteParts(offset, parts);
    }
    // Every block written, the file closed. Called by the producer.
    HRESULT FinishFile() {
        StopThread();
        return CloseFile();
    }
    // A producer took the pin's IStream: from now on it ends each file with
    // Commit, so stopping leaves the file open for its closing writes.
    void ClaimStream() {
        std::lock_guard guard(m_lock);
        m_stream_user = true;
    }
    uint64_t FileSize() {
        std::lock_guard guard(m_lock);
        return m_size;
    }

    HRESULT OnReceive(BaseInputPin&, IMediaSample* sample) override {
        REFERENCE_TIME start = 0, stop = 0;
        if (FAILED(sample->GetTime(&start, &stop)) || start < 0)
            return VFW_E_SAMPLE_TIME_NOT_SET;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        return WriteAt(static_cast<uint64_t>(start), data,
                       static_cast<size_t>(sample->GetActualDataLength()));
    }
    void OnDisconnected(BasePin&) override { FinishFile(); }

protected:
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == IFileSinkFilter::iid)
            return ReturnInterface<IFileSinkFilter>(this, out);
        if (riid == IFileWriterQueue::iid)
            return ReturnInterface<IFileWriterQueue>(this, out);
        if (riid == IFileWriterChain::iid)
            return ReturnInterface<IFileWriterChain>(this, out);
        if (riid == IFileWriterSync::iid)
            return ReturnInterface<IFileWriterSync>(this, out);
        return BaseFilter::QueryInterfaceExtra(riid, out);
    }

public:
    // The queue for a producer that holds the input pin only.
    HRESULT QueryQueue(void** out) { return ReturnInterface<IFileWriterQueue>(this, out); }
    HRESULT QueryChain(void** out) { return ReturnInterface<IFileWriterChain>(this, out); }

protected:
    HRESULT OnActivate() override {
        // A file still open from the last run is finished before the next
        // one replaces it.
        FinishFile();
        if (!m_input->IsConnected())
            return S_OK;
        std::u16string name;
        {
            std::lock_guard guard(m_lock);
            name = m_file_name;
        }
        if (name.empty())
            return E_FAIL;  // No file name was given.
        const std::string utf8 = ToUtf8(name);
        const win::HANDLE fd =
            win::CreateFileA(utf8.c_str(), win::GENERIC_WRITE, win::FILE_SHARE_READ, nullptr,
                             win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL, 0);
        if (fd == win::INVALID_HANDLE_VALUE)
            return HRESULT_FROM_WIN32(win::GetLastError());
        m_input->ResetPosition();
        {
            std::lock_guard order(m_report_lock);
            m_buffering_reported = false;
        }
        std::lock_guard guard(m_lock);
        m_fd = static_cast<int>(fd);
        m_size = 0;
        m_earlier_files_bytes = 0;
        m_file_count = 1;
        m_keep_from = kKeepNothing;
        m_kept.clear();
        m_in_flight = false;
        m_written_end = 0;
        m_rate_bytes = 0;
        m_rate_seconds = 0;
        m_queued_bytes = 0;
        m_queue.clear();
        m_error = S_OK;
        m_buffering = false;
        m_stopping = false;
        m_thread_running = true;
        m_thread = std::jthread([this](std::stop_token stop) {
            pthread_setname_np(pthread_self(), "rx-file-writer");
            WriteBehind(stop);
        });
        return S_OK;
    }
    void OnStopRequest() override {
        // The thread writes out what is queued, then ends; the stop token
        // tells a slow disk seam to hurry. A producer waiting for room in
        // the queue wakes and queues without waiting from now on.
        std::lock_guard guard(m_lock);
        m_stopping = true;
        m_thread.request_stop();
        m_cv.notify_all();
    }
    void OnStopJoin() override {
        StopThread();
        bool close = false;
        {
            std::lock_guard guard(m_lock);
            close = !m_stream_user;  // A stream producer finishes with Commit.
        }
        if (close)
            CloseFile();
    }

private:
    struct Block {
        uint64_t offset = 0;
        std::vector<uint8_t> data;
        bool barrier = false;  // Sync everything before it.
    };
    static constexpr uint64_t kKeepNothing = UINT64_MAX;

    // Until the queue is empty and no block is being written, or the
    // write-behind thread has ended. m_lock held.
    void WaitDrained(std::unique_lock<std::mutex>& guard) {
        m_cv.wait(guard, [&] { return !m_thread_running || (m_queue.empty() && !m_in_flight); });
    }
    // A block the disk has taken or refused, kept for the producer when it
    // lies where it asked. m_lock held.
    void MaybeKeep(Block& block) {
        if (!block.barrier && m_keep_from != kKeepNothing && block.offset >= m_keep_from)
            m_kept.push_back({block.offset, std::move(block.data)});
    }

    void WriteBehind(std::stop_token stop);
    // Writes `block` (or syncs, for a barrier) on the calling thread;
    // m_io_lock held. A block that would grow the file after a failure is
    // discarded.
    HRESULT WriteBlock(const Block& block, const DiskWrite& disk, std::stop_token stop);
    // Three seconds of what the disk was seen to write, within the limits.
    // m_lock held.
    uint64_t EffectiveLimit() const {
        constexpr uint64_t kFloor = 2ull << 20;
        const uint64_t floor = std::min(kFloor, m_limit);
        if (m_fixed_limit || m_rate_bytes < (4ull << 20) || m_rate_seconds <= 0)
            return m_limit;
        const auto seen = uint64_t(3.0 * double(m_rate_bytes) / m_rate_seconds);
        return std::clamp(seen, floor, m_limit);
    }
    void StopThread() {
        {
            std::lock_guard guard(m_lock);
            m_stopping = true;
            m_thread.request_stop();
        }
        m_cv.notify_all();
        // The control thread (stopping) and a streaming thread (a producer's
        // Commit) may both get here; one joins, the other waits for it.
        std::lock_guard join(m_join_lock);
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
            m_thread.join();
    }
    HRESULT CloseFile() {
        std::lock_guard io(m_io_lock);
        int fd = -1;
        HRESULT error = S_OK;
        {
            std::lock_guard guard(m_lock);
            fd = m_fd;
            m_fd = -1;
            error = m_error;
        }
        if (fd < 0)
            return error;
        // What was written is on the disk before the file is called done;
        // a failure here is the file's like any other, and is reported.
        HRESULT closing = S_OK;
        if (m_barrier_sync.load(std::memory_order_relaxed) && ::fdatasync(fd) != 0 &&
            errno != EINVAL)
            closing = HResultFromErrno(errno);
        if (::close(fd) != 0 && SUCCEEDED(closing))
            closing = HResultFromErrno(errno);
        if (FAILED(closing) && SUCCEEDED(error)) {
            Fail(closing);
            error = closing;
        }
        return error;
    }
    // Raises EC_BUFFERING_DATA for the queue's state now, if the last one
    // raised says otherwise. Called after each change of m_buffering, by
    // whichever thread made it. The producer and the write-behind thread
    // change the state under m_lock but raise the event after leaving it,
    // so two changes close together could otherwise reach the graph in the
    // opposite order and leave the last event contradicting the queue (a 1
    // after the 0 that followed it). The graph therefore sees 1 and 0
    // alternate, and the last one always matches the queue.
    void ReportBuffering() {
        std::lock_guard order(m_report_lock);
        bool buffering = false;
        {
            std::lock_guard guard(m_lock);
            buffering = m_buffering;
        }
        if (buffering == m_buffering_reported)
            return;
        m_buffering_reported = buffering;
        NotifyEvent(EC_BUFFERING_DATA, buffering ? 1 : 0, 0);
    }
    void Fail(HRESULT hr) {
        bool report = false;
        {
            std::lock_guard guard(m_lock);
            report = SUCCEEDED(m_error);
            if (report)
                m_error = hr;
            // A producer that continues in a next file takes this one.
            if (m_keep_from != kKeepNothing && IsFileSizeLimit(hr))
                report = false;
        }
        m_cv.notify_all();
        if (report)
            NotifyEvent(EC_ERRORABORT, hr, 0);
    }

    WriterInputPin* m_input = nullptr;
    std::jthread m_thread;  // Started and joined on the control thread.

    std::mutex m_join_lock;  // Serialises joining m_thread.

    // Serialises writes made outside the write-behind thread, and closing.
    std::mutex m_io_lock;

    // Taken before m_lock and held across NotifyEvent; see ReportBuffering.
    std::mutex m_report_lock;
    bool m_buffering_reported = false;  // Guarded by m_report_lock.

    // Set on the control thread, read by the write-behind thread.
    std::atomic<bool> m_barrier_sync{true};

    std::mutex m_lock;  // A leaf lock apart from NotifyEvent, which is called without it.
    std::condition_variable m_cv;
    // Guarded by m_lock.
    std::u16string m_file_name;
    int m_fd = -1;
    std::deque<Block> m_queue;
    uint64_t m_queued_bytes = 0;
    uint64_t m_size = 0;                  // End of the furthest block written or queued.
    uint64_t m_earlier_files_bytes = 0;   // Of this run's files before the current one.
    uint32_t m_file_count = 0;            // Files of this run so far.
    uint64_t m_size_limit = 0;            // Set by the owner; 0: none.
    uint64_t m_keep_from = kKeepNothing;  // See IFileWriterChain::KeepFrom.
    std::vector<KeptBlock> m_kept;
    bool m_in_flight = false;    // The thread is writing a block it took from the queue.
    uint64_t m_written_end = 0;  // End of the furthest block on the disk.
    uint64_t m_rate_bytes = 0;   // What the disk wrote lately, and in how long
    double m_rate_seconds = 0;   // (decaying sums).
    uint64_t m_low = kFileWriterLowBytes;
    uint64_t m_high = kFileWriterHighBytes;
    uint64_t m_limit = kFileWriterLimitBytes;
    bool m_fixed_limit = false;  // Set by the owner: not scaled to the disk.
    HRESULT m_error = S_OK;
    bool m_buffering = false;       // Above the high watermark and not yet back to the low.
    bool m_stream_user = false;     // See ClaimStream.
    bool m_stopping = false;        // No more waiting for room in the queue.
    bool m_thread_running = false;  // Blocks go to the queue, not to the disk at once.
    DiskWrite m_disk = DefaultDiskWrite;
};

WriterInputPin::WriterInputPin(FileWriter& writer)
    : BaseInputPin(writer, u"in"), m_writer(writer) {}

HRESULT WriterInputPin::QueryInterface(REFIID riid, void** out) {
    if (out && riid == IFileWriterQueue::iid)
        return m_writer.QueryQueue(out);
    if (out && riid == IFileWriterChain::iid)
        return m_writer.QueryChain(out);
    if (out && (riid == IStream::iid || riid == ISequentialStream::iid)) {
        m_writer.ClaimStream();
        *out = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    return BaseInputPin::QueryInterface(riid, out);
}

HRESULT WriterInputPin::Write(const void* pv, ULONG cb, ULONG* written) {
    if (!pv && cb)
        return STG_E_INVALIDPOINTER;
    if (written)
        *written = 0;
    uint64_t at = 0;
    {
        std::lock_guard guard(m_position_lock);
        at = m_position;
        m_position += cb;
    }
    const HRESULT hr = m_writer.WriteAt(at, static_cast<const uint8_t*>(pv), cb);
    if (SUCCEEDED(hr) && written)
        *written = cb;
    return hr;
}

HRESULT WriterInputPin::Seek(int64_t move, DWORD origin, uint64_t* new_position) {
    std::lock_guard guard(m_position_lock);
    int64_t base = 0;
    switch (origin) {
        case STREAM_SEEK_SET:
            break;
        case STREAM_SEEK_CUR:
            base = static_cast<int64_t>(m_position);
            break;
        case STREAM_SEEK_END:
            base = static_cast<int64_t>(m_writer.FileSize());
            break;
        default:
            return STG_E_INVALIDFUNCTION;
    }
    if (base + move < 0)
        return STG_E_INVALIDFUNCTION;
    m_position = static_cast<uint64_t>(base + move);
    if (new_position)
        *new_position = m_position;
    return S_OK;
}

HRESULT WriterInputPin::Commit(DWORD) {
    return m_writer.FinishFile();
}

HRESULT WriterInputPin::Stat(STATSTG* stat, DWORD) {
    if (!stat)
        return STG_E_INVALIDPOINTER;
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    stat->cbSize = m_writer.FileSize();
    return S_OK;
}

HRESULT FileWriter::WriteParts(uint64_t offset, std::span<const std::span<const uint8_t>> parts) {
    size_t size = 0;
    for (const auto& p : parts)
        size += p.size();
    Block block;
    block.offset = offset;
    block.data.reserve(size);
    for (const auto& p : parts)
        block.data.insert(block.data.end(), p.begin(), p.end());
    DiskWrite disk;
    bool raise = false;
    {
        std::unique_lock guard(m_lock);
        if (m_fd < 0)
            return VFW_E_WRONG_STATE;
        // After a failure only what overwrites the disk's bytes is written.
        if (FAILED(m_error) && offset + size > m_written_end)
            return m_error;
        m_size = std::max(m_size, offset + size);
        if (m_thread_running) {
            // A producer waits only past twice the limit (one that asks
            // GetRoom first never gets there), and never while stopping.
            m_cv.wait(guard, [&] {
                return m_stopping || m_queued_bytes == 0 ||
                       m_queued_bytes + size <= 2 * EffectiveLimit() || FAILED(m_error);
            });
            if (!m_stopping) {
                m_queued_bytes += size;
                m_queue.push_back(std::move(block));
                if (!m_buffering && m_queued_bytes >= m_high) {
                    m_buffering = true;
                    raise = true;
                }
            } else {
                // Stopping: the thread writes out what is queued and ends;
                // this block follows directly, so a producer that keeps
                // going cannot keep the stop from finishing.
                m_cv.wait(guard, [&] { return !m_thread_running; });
                disk = m_disk;
            }
        } else {
            disk = m_disk;
        }
    }
    if (raise)
        ReportBuffering();
    if (!disk) {
        m_cv.notify_all();
        return S_OK;
    }
    // The write-behind thread has ended (the writer stopped): write at once.
    std::lock_guard io(m_io_lock);
    std::stop_source stopped;
    stopped.request_stop();
    const HRESULT hr = WriteBlock(block, disk, stopped.get_token());
    std::lock_guard guard(m_lock);
    MaybeKeep(block);
    return hr;
}

HRESULT FileWriter::Barrier() {
    Block block;
    block.barrier = true;
    DiskWrite disk;
    {
        std::lock_guard guard(m_lock);
        if (m_fd < 0)
            return VFW_E_WRONG_STATE;
        if (m_thread_running && !m_stopping) {
            m_queue.push_back(std::move(block));
            m_cv.notify_all();
            return S_OK;
        }
        disk = m_disk;
    }
    std::lock_guard io(m_io_lock);
    std::stop_source stopped;
    stopped.request_stop();
    return WriteBlock(block, disk, stopped.get_token());
}

HRESULT FileWriter::WriteBlock(const Block& block, const DiskWrite& disk, std::stop_token stop) {
    int fd = -1;
    {
        std::lock_guard guard(m_lock);
        fd = m_fd;
        if (FAILED(m_error) && !block.barrier && block.offset + block.data.size() > m_written_end)
            return m_error;  // It would grow a file that failed.
    }
    if (fd < 0)
        return VFW_E_WRONG_STATE;
    const auto start = std::chrono::steady_clock::now();
    if (block.barrier) {
        if (!m_barrier_sync.load(std::memory_order_relaxed))
            return S_OK;
        if (::fdatasync(fd) == 0 || errno == EINVAL) {
            // The disk's pace counts the time its syncs take.
            std::lock_guard guard(m_lock);
            m_rate_seconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            return S_OK;
        }
        const HRESULT hr = HResultFromErrno(errno);
        Fail(hr);
        return hr;
    }
    uint64_t limit = 0;
    {
        std::lock_guard guard(m_lock);
        limit = m_size_limit;
    }
    // The owner's limit refuses a block as the file system's own does.
    const int err = limit && block.offset + block.data.size() > limit
                        ? EFBIG
                        : disk(fd, block.data.data(), block.data.size(),
                               static_cast<int64_t>(block.offset), stop);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (err != 0) {
        const HRESULT hr = HResultFromErrno(err);
        Fail(hr);
        return hr;
    }
    std::lock_guard guard(m_lock);
    m_written_end = std::max(m_written_end, block.offset + block.data.size());
    // The disk's pace over roughly the last 64 MiB written.
    const double keep = std::exp(-double(block.data.size()) / double(64ull << 20));
    m_rate_bytes = uint64_t(double(m_rate_bytes) * keep) + block.data.size();
    m_rate_seconds = m_rate_seconds * keep + seconds;
    return S_OK;
}

void FileWriter::WriteBehind(std::stop_token stop) {
    auto synced = std::chrono::steady_clock::now();
    bool unsynced = false;
    for (;;) {
        Block block;
        DiskWrite disk;
        {
            std::unique_lock guard(m_lock);
            m_cv.wait_for(guard, std::chrono::seconds(1),
                          [&] { return !m_queue.empty() || m_stopping; });
            if (m_queue.empty() && m_stopping) {
                m_thread_running = false;  // From now on blocks are written at once.
                m_in_flight = false;
                m_cv.notify_all();
                return;
            }
            if (!m_queue.empty()) {
                block = std::move(m_queue.front());
                m_queue.pop_front();
                m_in_flight = true;
            } else {
                block.barrier = unsynced;  // Idle: what was written is synced.
                if (!block.barrier)
                    continue;
            }
            disk = m_disk;
        }
        {
            std::lock_guard io(m_io_lock);
            WriteBlock(block, disk, stop);
        }
        if (block.barrier) {
            synced = std::chrono::steady_clock::now();
            unsynced = false;
        } else {
            unsynced = true;
            if (std::chrono::steady_clock::now() - synced >= std::chrono::seconds(1)) {
                // About once a second, what was written reaches the disk.
                Block sync;
                sync.barrier = true;
                std::lock_guard io(m_io_lock);
                WriteBlock(sync, disk, stop);
                synced = std::chrono::steady_clock::now();
                unsynced = false;
            }
        }
        bool lowered = false;
        {
            std::lock_guard guard(m_lock);
            m_queued_bytes -= std::min<uint64_t>(m_queued_bytes, block.data.size());
            m_in_flight = false;
            MaybeKeep(block);
            if (m_buffering && m_queued_bytes <= m_low) {
                m_buffering = false;
                lowered = true;
            }
        }
        m_cv.notify_all();
        if (lowered)
            ReportBuffering();
    }
}

HRESULT FileWriter::NextFile(uint64_t length, std::vector<KeptBlock>* kept) {
    if (!kept)
        return E_POINTER;
    kept->clear();
    // Nothing of the old file may reach the new one: the queue is written
    // out first, and the descriptor changes while no write is under way
    // (the write-behind thread writes under m_io_lock, so the wait for the
    // queue is made without it).
    std::unique_lock io(m_io_lock, std::defer_lock);
    int old_fd = -1;
    std::u16string first;
    uint32_t number = 0;
    for (bool drained = false; !drained;) {
        {
            std::unique_lock guard(m_lock);
            WaitDrained(guard);
        }
        io.lock();
        std::lock_guard guard(m_lock);
        drained = !m_thread_running || (m_queue.empty() && !m_in_flight);
        if (!drained) {
            io.unlock();
            continue;
        }
        old_fd = m_fd;
        first = m_file_name;
        number = m_file_count + 1;
    }
    if (old_fd < 0)
        return VFW_E_WRONG_STATE;
    // The old file ends where its producer cut it: bytes past that (the
    // refused tail, a partial write) are not part of it.
    HRESULT closing = S_OK;
    if (::ftruncate(old_fd, static_cast<off_t>(length)) != 0)
        closing = HResultFromErrno(errno);
    if (m_barrier_sync.load(std::memory_order_relaxed) && ::fdatasync(old_fd) != 0 &&
        errno != EINVAL && SUCCEEDED(closing))
        closing = HResultFromErrno(errno);
    if (::close(old_fd) != 0 && SUCCEEDED(closing))
        closing = HResultFromErrno(errno);
    {
        std::lock_guard guard(m_lock);
        m_fd = -1;
        *kept = std::move(m_kept);
        m_kept.clear();
        m_earlier_files_bytes += length;
        m_size = 0;
        m_written_end = 0;
        if (IsFileSizeLimit(m_error))
            m_error = S_OK;
    }
    if (FAILED(closing)) {
        Fail(closing);
        return closing;
    }
    const std::string utf8 = ToUtf8(ChainFileName(first, number));
    const win::HANDLE fd =
        win::CreateFileA(utf8.c_str(), win::GENERIC_WRITE, win::FILE_SHARE_READ, nullptr,
                         win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL, 0);
    if (fd == win::INVALID_HANDLE_VALUE) {
        const HRESULT hr = HRESULT_FROM_WIN32(win::GetLastError());
        Fail(hr);
        return hr;
    }
    std::lock_guard guard(m_lock);
    m_fd = static_cast<int>(fd);
    m_file_count = number;
    m_keep_from = 0;  // The new file's blocks are kept until the producer says.
    return m_error;
}

}  // namespace

std::u16string ChainFileName(const std::u16string& first, uint32_t number) {
    if (number <= 1)
        return first;
    const size_t slash = first.find_last_of(u"/\\");
    const size_t name = slash == std::u16string::npos ? 0 : slash + 1;
    size_t dot = first.find_last_of(u'.');
    if (dot == std::u16string::npos || dot <= name)
        dot = first.size();  // No extension ("capture", ".avi").
    char digits[16];
    std::snprintf(digits, sizeof digits, "_%03u", number);
    std::u16string result = first.substr(0, dot);
    for (const char* c = digits; *c; ++c)
        result += char16_t(*c);
    return result + first.substr(dot);
}

bool IsFileSizeLimit(HRESULT hr) {
    return hr == HResultFromErrno(EFBIG);
}

ClassEntry FileWriterClassEntry() {
    return FilterClassEntry<FileWriter>(CLSID_FileWriter, "File writer", MERIT_DO_NOT_USE);
}

}  // namespace ronvix::media
