#include "platform/media/core/sample.h"

#include <algorithm>
#include <new>

namespace ronvix::media {

using namespace com;

MediaSample::MediaSample(MemAllocator& allocator, size_t size)
    : m_allocator(&allocator),
      m_buffer(size),
      m_data(m_buffer.data()),
      m_size(static_cast<LONG>(size)) {}

MediaSample::MediaSample(BYTE* data, LONG size)
    : m_allocator(nullptr), m_data(data), m_size(size) {}

ComPtr<IMediaSample> MediaSample::Over(BYTE* data, LONG size, LONG length,
                                       std::function<void()> on_release) {
    auto* created = new (std::nothrow) MediaSample(data, size);
    if (!created) {
        if (on_release)
            on_release();
        return nullptr;
    }
    created->m_on_release = std::move(on_release);
    created->m_actual = std::clamp<LONG>(length, 0, size);
    created->m_refs.store(1, std::memory_order_relaxed);
    ComPtr<IMediaSample> sample;
    sample.Attach(created);
    return sample;
}

ComPtr<IMediaSample> MediaSample::ViewOf(IMediaSample* sample) {
    if (!sample)
        return nullptr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    ComPtr<IMediaSample> view = Over(data, sample->GetSize(), sample->GetActualDataLength(),
                                     [kept = ComPtr<IMediaSample>(sample)] {});
    if (view) {
        view->SetSyncPoint(sample->IsSyncPoint() == S_OK);
        view->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
    }
    return view;
}

HRESULT MediaSample::QueryInterface(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IMediaSample::iid) {
        *out = static_cast<IMediaSample*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG MediaSample::AddRef() {
    return m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG MediaSample::Release() {
    ULONG n = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    // The last reference hands the buffer back to the pool; nothing of this
    // object may be touched afterwards (the pool may go with it).
    if (n == 0) {
        if (m_allocator) {
            m_allocator->Return(this);
        } else {
            const std::function<void()> release = std::move(m_on_release);
            delete this;
            if (release)
                release();
        }
    }
    return n;
}

void MediaSample::ResetProperties() {
    m_actual = 0;
    m_time_valid = m_stop_valid = m_media_time_valid = false;
    m_start = m_stop = m_media_start = m_media_stop = 0;
    m_sync = m_preroll = m_discontinuity = false;
    m_type.reset();
}

HRESULT MediaSample::GetPointer(BYTE** buffer) {
    if (!buffer)
        return E_POINTER;
    *buffer = m_data;
    return S_OK;
}

LONG MediaSample::GetSize() {
    return m_size;
}

HRESULT MediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    if (!start || !stop)
        return E_POINTER;
    if (!m_time_valid)
        return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = m_start;
    if (!m_stop_valid) {
        *stop = m_start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *stop = m_stop;
    return S_OK;
}

HRESULT MediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    m_time_valid = start != nullptr;
    m_stop_valid = start && stop;
    m_start = start ? *start : 0;
    m_stop = (start && stop) ? *stop : 0;
    return S_OK;
}

HRESULT MediaSample::IsSyncPoint() {
    return m_sync ? S_OK : S_FALSE;
}
HRESULT MediaSample::SetSyncPoint(BOOL sync) {
    m_sync = sync != 0;
    return S_OK;
}
HRESULT MediaSample::IsPreroll() {
    return m_preroll ? S_OK : S_FALSE;
}
HRESULT MediaSample::SetPreroll(BOOL preroll) {
    m_preroll = preroll != 0;
    return S_OK;
}
LONG MediaSample::GetActualDataLength() {
    return m_actual;
}
HRESULT MediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > m_size)
        return VFW_E_BUFFER_OVERFLOW;
    m_actual = length;
    return S_OK;
}

HRESULT MediaSample::GetMediaType(AM_MEDIA_TYPE** mt) {
    if (!mt)
        return E_POINTER;
    *mt = nullptr;
    if (!m_type)
        return S_FALSE;
    *mt = CreateMediaType(&m_type->Get());
    return *mt ? S_OK : E_OUTOFMEMORY;
}

HRESULT MediaSample::SetMediaType(AM_MEDIA_TYPE* mt) {
    if (mt)
        m_type.emplace(*mt);
    else
        m_type.reset();
    return S_OK;
}

HRESULT MediaSample::IsDiscontinuity() {
    return m_discontinuity ? S_OK : S_FALSE;
}
HRESULT MediaSample::SetDiscontinuity(BOOL discontinuity) {
    m_discontinuity = discontinuity != 0;
    return S_OK;
}

HRESULT MediaSample::GetMediaTime(LONGLONG* start, LONGLONG* stop) {
    if (!start || !stop)
        return E_POINTER;
    if (!m_media_time_valid)
        return VFW_E_MEDIA_TIME_NOT_SET;
    *start = m_media_start;
    *stop = m_media_stop;
    return S_OK;
}

HRESULT MediaSample::SetMediaTime(LONGLONG* start, LONGLONG* stop) {
    m_media_time_valid = start && stop;
    m_media_start = start ? *start : 0;
    m_media_stop = stop ? *stop : 0;
    return S_OK;
}

MemAllocator::~MemAllocator() {
    // Every sample holds a reference on the allocator while it is out, so
    // none can be out now.
    assert(m_outstanding == 0);
}

HRESULT MemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (!request || !actual)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    if (m_committed)
        return VFW_E_ALREADY_COMMITTED;
    if (m_outstanding)
        return VFW_E_BUFFERS_OUTSTANDING;
    if (request->cBuffers < 0 || request->cbBuffer < 0)
        return E_INVALIDARG;
    m_props.cBuffers = std::max<LONG>(request->cBuffers, 1);
    m_props.cbBuffer = std::max<LONG>(request->cbBuffer, 1);
    m_props.cbAlign = 1;
    m_props.cbPrefix = 0;
    *actual = m_props;
    return S_OK;
}

HRESULT MemAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
    if (!props)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *props = m_props;
    return S_OK;
}

HRESULT MemAllocator::Commit() {
    std::lock_guard guard(m_lock);
    if (m_props.cBuffers <= 0 || m_props.cbBuffer <= 0)
        return VFW_E_SIZENOTSET;
    if (m_committed)
        return S_OK;
    const bool reshape =
        m_samples.size() != static_cast<size_t>(m_props.cBuffers) ||
        (!m_samples.empty() && m_samples.front()->m_buffer.size() != size_t(m_props.cbBuffer));
    if (reshape) {
        if (m_outstanding)
            return VFW_E_BUFFERS_OUTSTANDING;
        m_free.clear();
        m_samples.clear();
        try {
            for (LONG i = 0; i < m_props.cBuffers; ++i) {
                m_samples.push_back(std::make_unique<MediaSample>(*this, size_t(m_props.cbBuffer)));
                m_free.push_back(m_samples.back().get());
            }
        } catch (const std::bad_alloc&) {
            m_free.clear();
            m_samples.clear();
            return E_OUTOFMEMORY;
        }
    }
    m_committed = true;
    return S_OK;
}

HRESULT MemAllocator::Decommit() {
    {
        std::lock_guard guard(m_lock);
        m_committed = false;
    }
    m_free_cv.notify_all();
    return S_OK;
}

HRESULT MemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*,
                                DWORD flags) {
    if (!sample)
        return E_POINTER;
    *sample = nullptr;
    MediaSample* s = nullptr;
    {
        std::unique_lock guard(m_lock);
        if (!(flags & AM_GBF_NOWAIT))
            m_free_cv.wait(guard, [&] { return !m_committed || !m_free.empty(); });
        if (!m_committed)
            return VFW_E_NOT_COMMITTED;
        if (m_free.empty())
            return VFW_E_TIMEOUT;
        s = m_free.back();
        m_free.pop_back();
        ++m_outstanding;
    }
    AddRef();  // Released when the sample comes back.
    s->ResetProperties();
    s->m_refs.store(1, std::memory_order_relaxed);
    *sample = s;
    return S_OK;
}

HRESULT MemAllocator::ReleaseBuffer(IMediaSample* sample) {
    if (!sample)
        return E_POINTER;
    // Samples return themselves when their last reference goes; a direct
    // call is only valid for such a sample and changes nothing.
    return S_OK;
}

void MemAllocator::Return(MediaSample* sample) {
    {
        std::lock_guard guard(m_lock);
        m_free.push_back(sample);
        --m_outstanding;
    }
    m_free_cv.notify_one();
    Release();
}

size_t MemAllocator::OutstandingForTest() const {
    std::lock_guard guard(m_lock);
    return m_outstanding;
}

}  // namespace ronvix::media
