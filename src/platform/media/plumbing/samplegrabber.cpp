// Sample Grabber: passes samples on in place and shows each one to a
// callback on the streaming thread. Its input accepts only types whose
// major type, subtype and format type match the type set on it (GUID_NULL
// in the set type matches anything; the format block is not compared).
// Buffering keeps a reference to the last sample, never a copy.

#include <cstring>
#include <mutex>

#include "platform/com/object.h"
#include "platform/media/core/filterentry.h"
#include "platform/media/plumbing/passthrough.h"
#include "platform/media/plumbing/plumbing.h"

namespace ronvix::media {

using namespace com;

namespace {

class SampleGrabber;

class GrabberInputPin final : public BaseInputPin {
public:
    GrabberInputPin(SampleGrabber& grabber);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;

private:
    SampleGrabber& m_grabber;
};

class SampleGrabber final : public BaseFilter, public ISampleGrabber {
public:
    SampleGrabber() : BaseFilter(CLSID_SampleGrabber) {
        m_input = static_cast<BaseInputPin*>(AddPin(std::make_unique<GrabberInputPin>(*this)));
        m_output = static_cast<PassThroughOutputPin*>(
            AddPin(std::make_unique<PassThroughOutputPin>(*this, u"Output", m_input)));
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return BaseFilter::QueryInterface(riid, out);
    }
    ULONG AddRef() override { return BaseFilter::AddRef(); }
    ULONG Release() override { return BaseFilter::Release(); }

    // ISampleGrabber; control thread.
    HRESULT SetOneShot(BOOL one_shot) override {
        std::lock_guard guard(m_lock);
        m_one_shot = one_shot != 0;
        m_one_shot_done = false;
        return S_OK;
    }
    HRESULT SetMediaType(const AM_MEDIA_TYPE* mt) override {
        std::lock_guard guard(m_lock);
        m_type = mt ? MediaType(*mt) : MediaType();
        return S_OK;
    }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* mt) override {
        return m_input->ConnectionMediaType(mt);
    }
    HRESULT SetBufferSamples(BOOL buffer) override {
        std::lock_guard guard(m_lock);
        m_buffering = buffer != 0;
        if (!m_buffering)
            m_last = nullptr;
        return S_OK;
    }
    HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) override {
        if (!size)
            return E_POINTER;
        ComPtr<IMediaSample> last;
        {
            std::lock_guard guard(m_lock);
            if (!m_buffering)
                return E_INVALIDARG;
            last = m_last;
        }
        if (!last)
            return VFW_E_WRONG_STATE;
        const LONG length = last->GetActualDataLength();
        if (!buffer) {
            *size = length;
            return S_OK;
        }
        if (*size < length)
            return E_OUTOFMEMORY;
        BYTE* data = nullptr;
        last->GetPointer(&data);
        std::memcpy(buffer, data, static_cast<size_t>(length));
        *size = length;
        return S_OK;
    }
    HRESULT GetCurrentSample(IMediaSample** sample) override {
        if (!sample)
            return E_POINTER;
        std::lock_guard guard(m_lock);
        *sample = m_last.Get();
        if (!*sample)
            return VFW_E_WRONG_STATE;
        (*sample)->AddRef();
        return S_OK;
    }
    HRESULT SetCallback(ISampleGrabberCB* callback, LONG which) override {
        if (which != 0 && which != 1)
            return E_INVALIDARG;
        std::lock_guard guard(m_lock);
        m_callback = callback;
        m_which = which;
        return S_OK;
    }

    bool Accepts(const AM_MEDIA_TYPE& mt) {
        std::lock_guard guard(m_lock);
        return MatchesPartial(mt, &m_type.Get());
    }

    HRESULT OnReceive(BaseInputPin&, IMediaSample* sample) override {
        ComPtr<ISampleGrabberCB> callback;
        LONG which = 1;
        bool one_shot = false;
        {
            std::lock_guard guard(m_lock);
            if (m_one_shot && m_one_shot_done)
                return S_FALSE;
            if (m_buffering)
                m_last = sample;
            callback = m_callback;
            which = m_which;
            one_shot = m_one_shot;
            if (one_shot)
                m_one_shot_done = true;
        }
        if (callback) {
            REFERENCE_TIME start = 0, stop = 0;
            const double seconds =
                SUCCEEDED(sample->GetTime(&start, &stop)) ? double(start) / 1e7 : 0.0;
            // A callback's failure or exception never ends the stream.
            try {
                if (which == 0) {
                    callback->SampleCB(seconds, sample);
                } else {
                    BYTE* data = nullptr;
                    sample->GetPointer(&data);
                    callback->BufferCB(seconds, data, sample->GetActualDataLength());
                }
            } catch (...) {
            }
        }
        HRESULT hr = m_output->Deliver(sample);
        if (hr == VFW_E_NOT_CONNECTED)
            hr = S_OK;
        if (one_shot)
            m_output->DeliverEndOfStream();
        return hr;
    }
    void OnEndOfStream(BaseInputPin&) override { m_output->DeliverEndOfStream(); }
    void OnBeginFlush(BaseInputPin&) override { m_output->DeliverBeginFlush(); }
    void OnEndFlush(BaseInputPin&) override { m_output->DeliverEndFlush(); }
    void OnNewSegment(BaseInputPin&, REFERENCE_TIME start, REFERENCE_TIME stop,
                      double rate) override {
        m_output->DeliverNewSegment(start, stop, rate);
    }
    void OnDisconnected(BasePin& pin) override {
        if (&pin != m_input)
            return;
        std::lock_guard guard(m_lock);
        m_last = nullptr;  // The sample belongs to a pool of the old upstream.
    }

protected:
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == ISampleGrabber::iid)
            return ReturnInterface<ISampleGrabber>(this, out);
        return BaseFilter::QueryInterfaceExtra(riid, out);
    }
    HRESULT OnActivate() override {
        std::lock_guard guard(m_lock);
        m_one_shot_done = false;
        return S_OK;
    }

private:
    BaseInputPin* m_input = nullptr;
    PassThroughOutputPin* m_output = nullptr;

    std::mutex m_lock;  // A leaf lock; never held across a call out.
    // Guarded by m_lock.
    MediaType m_type;
    bool m_buffering = false;
    bool m_one_shot = false;
    bool m_one_shot_done = false;
    ComPtr<IMediaSample> m_last;
    ComPtr<ISampleGrabberCB> m_callback;
    LONG m_which = 0;
};

GrabberInputPin::GrabberInputPin(SampleGrabber& grabber)
    : BaseInputPin(grabber, u"Input"), m_grabber(grabber) {}

HRESULT GrabberInputPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    if (!IsComplete(mt))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return m_grabber.Accepts(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

}  // namespace

ClassEntry SampleGrabberClassEntry() {
    return FilterClassEntry<SampleGrabber>(CLSID_SampleGrabber, "SampleGrabber", MERIT_DO_NOT_USE);
}

}  // namespace ronvix::media
