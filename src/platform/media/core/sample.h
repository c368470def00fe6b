#pragma once
// Media samples and the pooled allocator.
//
// An allocator owns a fixed pool of buffers. GetBuffer hands out a sample
// with one reference; when the last reference goes the sample returns to the
// pool and wakes one waiter. That is the back-pressure of a connection: a
// producer that outruns its consumer blocks in GetBuffer (or, with
// AM_GBF_NOWAIT, is told at once so a live source can drop the frame).
// Decommit wakes every waiter; samples still out return to the pool later
// and a sample keeps its allocator alive while it is out.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/com/object.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

class MemAllocator;

// One buffer of a pool. Used by one thread at a time (whoever holds it);
// the reference count is atomic.
class MediaSample final : public IMediaSample {
public:
    MediaSample(MemAllocator& allocator, size_t size);
    // A view of `sample`: its bytes, under properties of the view's own
    // (its length, sync point and discontinuity to start with; no times).
    // What a branch that only reads a frame gets instead of a copy: the
    // view keeps `sample`, and so its buffer out of its pool, until the
    // view's last reference goes. Null for a null sample.
    static com::ComPtr<IMediaSample> ViewOf(IMediaSample* sample);
    // A sample over `size` bytes at `data` that belong to someone else (a
    // driver's buffer), holding `length` of them; `on_release` runs once,
    // on whichever thread lets the last reference go, and gives the bytes
    // back. Null when it cannot be made (then `on_release` has run).
    static com::ComPtr<IMediaSample> Over(BYTE* data, LONG size, LONG length,
                                          std::function<void()> on_release);
    MediaSample(const MediaSample&) = delete;
    MediaSample& operator=(const MediaSample&) = delete;

    HRESULT QueryInterface(REFIID riid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetPointer(BYTE** buffer) override;
    LONG GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL sync) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL preroll) override;
    LONG GetActualDataLength() override;
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** mt) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL discontinuity) override;
    HRESULT GetMediaTime(LONGLONG* start, LONGLONG* stop) override;
    HRESULT SetMediaTime(LONGLONG* start, LONGLONG* stop) override;

private:
    friend class MemAllocator;
    void ResetProperties();

    MediaSample(BYTE* data, LONG size);

    // Null for a sample over bytes of someone else's, which deletes itself
    // and runs m_on_release.
    MemAllocator* const m_allocator;
    std::atomic<ULONG> m_refs{0};
    std::vector<BYTE> m_buffer;
    std::function<void()> m_on_release;
    BYTE* m_data = nullptr;  // m_buffer's bytes or the ones lent
    LONG m_size = 0;
    LONG m_actual = 0;
    bool m_time_valid = false;
    bool m_stop_valid = false;
    REFERENCE_TIME m_start = 0;
    REFERENCE_TIME m_stop = 0;
    bool m_media_time_valid = false;
    LONGLONG m_media_start = 0;
    LONGLONG m_media_stop = 0;
    bool m_sync = false;
    bool m_preroll = false;
    bool m_discontinuity = false;
    std::optional<MediaType> m_type;
};

class MemAllocator final : public com::ComObject<IMemAllocator> {
public:
    MemAllocator() = default;
    ~MemAllocator() override;

    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                      DWORD flags) override;
    HRESULT ReleaseBuffer(IMediaSample* sample) override;

    // Samples currently handed out, for tests that check teardown.
    size_t OutstandingForTest() const;

private:
    friend class MediaSample;
    // Called by a sample whose last reference went.
    void Return(MediaSample* sample);

    mutable std::mutex m_lock;
    std::condition_variable m_free_cv;
    // Guarded by m_lock.
    ALLOCATOR_PROPERTIES m_props{};
    bool m_committed = false;
    std::vector<std::unique_ptr<MediaSample>> m_samples;
    std::vector<MediaSample*> m_free;
    size_t m_outstanding = 0;
};

}  // namespace ronvix::media
