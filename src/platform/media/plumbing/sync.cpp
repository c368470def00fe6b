// sync: pairs of inputs and outputs that pass samples and media types on
// unchanged. Connecting input n adds output n and, when no input is free, a
// new input, so any number of streams can pass through one instance.

#include <string>

#include "platform/com/object.h"
#include "platform/media/core/filterentry.h"
#include "platform/media/plumbing/passthrough.h"
#include "platform/media/plumbing/plumbing.h"

namespace ronvix::media {

using namespace com;

namespace {

class SyncFilter;

class SyncInputPin final : public AnyInputPin {
public:
    using AnyInputPin::AnyInputPin;
    // Set once, on the control thread, before the pin can receive anything.
    std::atomic<PassThroughOutputPin*> partner{nullptr};
};

class SyncFilter final : public BaseFilter {
public:
    SyncFilter() : BaseFilter(CLSID_Sync) { AddInput(); }

    HRESULT OnReceive(BaseInputPin& pin, IMediaSample* sample) override {
        PassThroughOutputPin* out = static_cast<SyncInputPin&>(pin).partner.load();
        if (!out)
            return S_OK;
        const HRESULT hr = out->Deliver(sample);
        // A stream whose output goes nowhere is dropped, not refused.
        return hr == VFW_E_NOT_CONNECTED ? S_OK : hr;
    }
    void OnEndOfStream(BaseInputPin& pin) override {
        if (PassThroughOutputPin* out = static_cast<SyncInputPin&>(pin).partner.load())
            out->DeliverEndOfStream();
    }
    void OnBeginFlush(BaseInputPin& pin) override {
        if (PassThroughOutputPin* out = static_cast<SyncInputPin&>(pin).partner.load())
            out->DeliverBeginFlush();
    }
    void OnEndFlush(BaseInputPin& pin) override {
        if (PassThroughOutputPin* out = static_cast<SyncInputPin&>(pin).partner.load())
            out->DeliverEndFlush();
    }
    void OnNewSegment(BaseInputPin& pin, REFERENCE_TIME start, REFERENCE_TIME stop,
                      double rate) override {
        if (PassThroughOutputPin* out = static_cast<SyncInputPin&>(pin).partner.load())
            out->DeliverNewSegment(start, stop, rate);
    }
    void OnConnected(BasePin& pin) override {
        if (pin.Direction() != PINDIR_INPUT)
            return;
        auto& in = static_cast<SyncInputPin&>(pin);
        if (!in.partner.load()) {
            auto out = std::make_unique<PassThroughOutputPin>(*this, u"Output " + IndexOf(in), &in);
            in.partner.store(static_cast<PassThroughOutputPin*>(AddPin(std::move(out))));
        }
        bool free_input = false;
        for (BasePin* p : Pins())
            if (p->Direction() == PINDIR_INPUT && !p->IsConnected())
                free_input = true;
        if (!free_input)
            AddInput();
    }

private:
    void AddInput() {
        const std::u16string index = ToUtf16(std::to_string(m_inputs++));
        AddPin(std::make_unique<SyncInputPin>(*this, u"Input " + index));
    }
    std::u16string IndexOf(const BasePin& in) const {
        return in.Name().substr(6);  // After "Input ".
    }

    int m_inputs = 0;  // Control thread only.
};

}  // namespace

ClassEntry SyncClassEntry() {
    return FilterClassEntry<SyncFilter>(CLSID_Sync, "sync", MERIT_DO_NOT_USE);
}

}  // namespace ronvix::media
