#pragma once
// A benchmark source's frame: copied into a sample of its pin's pool and
// delivered downstream with its times, as a device's delivery thread does.

#include <cstring>
#include <vector>

#include "platform/com/comptr.h"
#include "platform/media/core/filter.h"

namespace ronvix::media::bench {

inline com::HRESULT DeliverCopy(BaseOutputPin& pin, const std::vector<uint8_t>& frame,
                                REFERENCE_TIME start, REFERENCE_TIME period, bool sync_point) {
    com::ComPtr<IMediaSample> sample;
    const com::HRESULT hr = pin.GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), 0);
    if (com::FAILED(hr))
        return hr;
    BYTE* p = nullptr;
    sample->GetPointer(&p);
    std::memcpy(p, frame.data(), frame.size());
    sample->SetActualDataLength(LONG(frame.size()));
    REFERENCE_TIME stop = start + period;
    sample->SetTime(&start, &stop);
    if (sync_point)
        sample->SetSyncPoint(com::TRUE);
    return pin.Deliver(sample.Get());
}

}  // namespace ronvix::media::bench
