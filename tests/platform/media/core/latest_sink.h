#pragma once
// A sink that keeps only the newest sample it received (a copy, with its
// times) and counts all of them: for tests that watch a live stream for a
// while without holding every frame. Header only.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/com/object.h"
#include "platform/media/core/filter.h"

namespace ronvix::media::test {

class LatestFrameSink final : public BaseFilter {
public:
    struct Frame {
        std::vector<uint8_t> data;
        REFERENCE_TIME start = 0;
        size_t number = 0;  // 1 for the first frame received
    };

    explicit LatestFrameSink(MediaType accept)
        : BaseFilter(RONVIX_GUID("{5E1F0002-0000-4000-8000-00000000AA77}")),
          m_accept(std::move(accept)) {
        AddPin(std::make_unique<Pin>(*this));
    }

    IPin* Input() { return PinAt(0); }
    MediaType Type() { return PinAt(0)->ConnectionType(); }

    size_t Count() {
        std::lock_guard guard(m_lock);
        return m_count;
    }
    // Waits for a frame numbered above `after`; nothing after `timeout_ms`.
    std::optional<Frame> NextAfter(size_t after, int timeout_ms = 5000) {
        std::unique_lock guard(m_lock);
        if (!m_cv.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                           [&] { return m_count > after; }))
            return std::nullopt;
        return m_latest;
    }
    // The first frame that starts after frames now in flight: skips `skip`
    // frames after the current one, so a control changed before the call is
    // visible in it. The built-in camera may have four frames in its pool
    // and one being drawn when the control changes.
    std::optional<Frame> FreshFrame(size_t skip = 5) { return NextAfter(Count() + skip); }

    HRESULT OnReceive(BaseInputPin&, IMediaSample* sample) override {
        BYTE* p = nullptr;
        sample->GetPointer(&p);
        REFERENCE_TIME start = 0, stop = 0;
        sample->GetTime(&start, &stop);
        {
            std::lock_guard guard(m_lock);
            m_latest.data.assign(p, p + sample->GetActualDataLength());
            m_latest.start = start;
            m_latest.number = ++m_count;
        }
        m_cv.notify_all();
        return com::S_OK;
    }

private:
    class Pin final : public BaseInputPin {
    public:
        explicit Pin(LatestFrameSink& owner) : BaseInputPin(owner, u"In"), m_owner(owner) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return MatchesPartial(mt, &m_owner.m_accept.Get()) && IsComplete(mt)
                       ? com::S_OK
                       : com::VFW_E_TYPE_NOT_ACCEPTED;
        }

    private:
        LatestFrameSink& m_owner;
    };

    const MediaType m_accept;
    std::mutex m_lock;
    std::condition_variable m_cv;
    // Guarded by m_lock.
    Frame m_latest;
    size_t m_count = 0;
};

}  // namespace ronvix::media::test
