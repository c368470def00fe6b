// Smart Tee: one input, a "Capture" output that receives every sample
// unchanged, and a "Preview" output fed by a thread of its own with views of
// the same frames (their bytes, not copied) without time stamps, so a live
// preview shows them at once. When the preview branch is still busy with
// the previous frame the new one is dropped, so a slow preview never holds
// back the capture stream: at most two frames are in the preview branch
// (one shown, one waiting), which the source's pool allows for.

#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/com/object.h"
#include "platform/media/core/filterentry.h"
#include "platform/media/core/sample.h"
#include "platform/media/plumbing/passthrough.h"
#include "platform/media/plumbing/plumbing.h"

namespace ronvix::media {

using namespace com;

namespace {

class SmartTee;

// Asks upstream for two buffers more than a producer's usual four, for the
// two frames the preview branch may hold as views.
class TeeInputPin final : public AnyInputPin {
public:
    using AnyInputPin::AnyInputPin;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override {
        if (!props)
            return E_POINTER;
        props->cBuffers = 4 + 2;
        return S_OK;
    }
};

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
        // The preview is sent views of the input's samples, never buffers
        // of this pool: the smallest pool the connection takes.
        props.cBuffers = 1;
        props.cbBuffer = 1;
        return S_OK;
    }

private:
    BaseInputPin* const m_partner;
};

class SmartTee final : public BaseFilter {
public:
    SmartTee() : BaseFilter(CLSID_SmartTee) {
        m_input =
            static_cast<BaseInputPin*>(AddPin(std::make_unique<TeeInputPin>(*this, u"Input")));
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
        ComPtr<IMediaSample> view = MediaSample::ViewOf(sample);
        if (!view) {
            ++m_preview_dropped;
            return;
        }
        {
            std::lock_guard guard(m_mail_lock);
            m_mail = view;
        }
        m_mail_cv.notify_one();
    }

    void PreviewLoop(std::stop_token stop) {
        pthread_setname_np(pthread_self(), "rx-tee-preview");
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
    return FilterClassEntry<SmartTee>(CLSID_SmartTee, "Smart Tee", MERIT_DO_NOT_USE);
}

}  // namespace ronvix::media
