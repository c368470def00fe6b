// Smart Tee: one input, a "Capture" output that receives every sample
// unchanged, and a "Preview" output fed by a thread of its own with copies
// without time stamps (so a live preview shows them at once). When the
// preview branch is still busy with the previous frame the new one is
// dropped, so a slow preview never holds back the capture stream.

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/com/object.h"
#include "platform/media/filters/filters.h"
#include "platform/media/filters/passthrough.h"

namespace ronvix::media {

using namespace com;

namespace {

class SmartTee;

class PreviewPin final : public BaseOutputPin {
public:
    PreviewPin(BaseFilter& filter, BaseInputPin* partner)
        : BaseOutputPin(filter, u"Preview", PIN_CATEGORY_PREVIEW), m_partner(partner) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        if (!m_partner->IsConnected())
            return VFW_E_NOT_CONNECTED;
        const MediaType in = m_partner->ConnectionType();
        const bool same = in->majortype == mt.majortype && in->subtype == mt.subtype &&
                          in->formattype == mt.formattype;
        return same ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    std::vector<MediaType> OfferedTypes() override {
        if (!m_partner->IsConnected())
            return {};
        return {m_partner->ConnectionType()};
    }

protected:
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override {
        // Two buffers: one being shown, one waiting. Big enough for a whole
        // uncompressed frame of the connection's size, which also bounds a
        // compressed one.
        const MediaType mt = ConnectionType();
        LONG size = static_cast<LONG>(mt->lSampleSize);
        if (const VIDEOINFOHEADER* vih = mt.VideoInfo()) {
            const LONG w = std::abs(vih->bmiHeader.biWidth), h = std::abs(vih->bmiHeader.biHeight);
            size = std::max<LONG>({size, static_cast<LONG>(vih->bmiHeader.biSizeImage), w * h * 4});
        }
        props.cBuffers = 2;
        props.cbBuffer = std::max<LONG>(size, 64 * 1024);
        return S_OK;
    }

private:
    BaseInputPin* const m_partner;
};

class SmartTee final : public BaseFilter {
public:
    SmartTee() : BaseFilter(CLSID_SmartTee) {
        m_input =
            static_cast<BaseInputPin*>(AddPin(std::make_unique<AnyInputPin>(*this, u"Input")));
        m_capture =
            static_cast<PassThroughOutputPin*>(AddPin(std::make_unique<PassThroughOutputPin>(
                *this, u"Capture", m_input, PIN_CATEGORY_CAPTURE)));
        m_preview = static_cast<PreviewPin*>(AddPin(std::make_unique<PreviewPin>(*this, m_input)));
    }

    HRESULT OnReceive(BaseInputPin&, IMediaSample* sample) override {
        OfferPreview(sample);
        const HRESULT hr = m_capture->Deliver(sample);
        return hr == VFW_E_NOT_CONNECTED ? S_OK : hr;
    }
    void OnEndOfStream(BaseInputPin&) override {
        m_capture->DeliverEndOfStream();
        m_preview->DeliverEndOfStream();
    }
    void OnBeginFlush(BaseInputPin&) override {
        {
            std::lock_guard guard(m_mail_lock);
            m_mail = nullptr;
        }
        m_capture->DeliverBeginFlush();
        m_preview->DeliverBeginFlush();
    }
    void OnEndFlush(BaseInputPin&) override {
        m_capture->DeliverEndFlush();
        m_preview->DeliverEndFlush();
    }

    LONG DroppedPreviewFrames() const { return m_preview_dropped.load(); }

protected:
    HRESULT OnActivate() override {
        if (m_preview->IsConnected())
            m_worker = std::jthread([this](std::stop_token stop) { PreviewLoop(stop); });
        return S_OK;
    }
    // The preview pin went inactive before this (so a delivery blocked
    // downstream was flushed out); stopping the thread is all that is left.
    void OnStopRequest() override { m_worker.request_stop(); }
    void OnStopJoin() override {
        if (m_worker.joinable())
            m_worker.join();
        std::lock_guard guard(m_mail_lock);
        m_mail = nullptr;
    }

private:
    void OfferPreview(IMediaSample* sample) {
        if (!m_preview->IsConnected())
            return;
        {
            std::lock_guard guard(m_mail_lock);
            if (m_mail) {
                ++m_preview_dropped;
                return;
            }
        }
        ComPtr<IMediaSample> copy;
        if (FAILED(m_preview->GetDeliveryBuffer(copy.ReleaseAndGetAddressOf(), AM_GBF_NOWAIT))) {
            ++m_preview_dropped;  // Both buffers still in the preview branch.
            return;
        }
        BYTE* src = nullptr;
        BYTE* dst = nullptr;
        sample->GetPointer(&src);
        copy->GetPointer(&dst);
        const LONG length = sample->GetActualDataLength();
        if (length > copy->GetSize()) {
            ++m_preview_dropped;
            return;
        }
        std::memcpy(dst, src, static_cast<size_t>(length));
        copy->SetActualDataLength(length);
        copy->SetTime(nullptr, nullptr);
        copy->SetSyncPoint(sample->IsSyncPoint() == S_OK);
        copy->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
        {
            std::lock_guard guard(m_mail_lock);
            m_mail = copy;
        }
        m_mail_cv.notify_one();
    }

    void PreviewLoop(std::stop_token stop) {
        while (!stop.stop_requested()) {
            ComPtr<IMediaSample> next;
            {
                std::unique_lock guard(m_mail_lock);
                if (!m_mail_cv.wait(guard, stop, [&] { return m_mail != nullptr; }))
                    return;
                next = m_mail;
            }
            m_preview->Deliver(next.Get());
            std::lock_guard guard(m_mail_lock);
            if (m_mail == next)
                m_mail = nullptr;
        }
    }

    BaseInputPin* m_input = nullptr;
    PassThroughOutputPin* m_capture = nullptr;
    PreviewPin* m_preview = nullptr;
    std::atomic<LONG> m_preview_dropped{0};
    std::jthread m_worker;  // Started and joined on the control thread.

    std::mutex m_mail_lock;
    std::condition_variable_any m_mail_cv;
    // Guarded by m_mail_lock: the one frame waiting for the preview thread.
    ComPtr<IMediaSample> m_mail;
};

}  // namespace

ClassEntry SmartTeeClassEntry() {
    ClassEntry entry;
    entry.clsid = CLSID_SmartTee;
    entry.friendly_name = "Smart Tee";
    entry.create = [](REFIID riid, void** out) {
        auto filter = MakeCom<SmartTee>();
        return filter->QueryInterface(riid, out);
    };
    entry.merit = MERIT_DO_NOT_USE;
    entry.categories = {CLSID_LegacyAmFilterCategory};
    return entry;
}

}  // namespace ronvix::media
