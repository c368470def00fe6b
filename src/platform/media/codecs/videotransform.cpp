#include "platform/media/codecs/videotransform.h"

#include "platform/media/codecs/colourspace.h"

#include <cstdlib>
#include <cstring>

namespace ronvix::media {

using namespace com;

bool SameSizeAs(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out, const GUID& subtype) {
    VideoGeometry gi, go;
    return out.subtype == subtype && ReadGeometry(in, &gi) && ReadGeometry(out, &go) &&
           go.width == gi.width && go.height == gi.height;
}

bool ReadGeometry(const AM_MEDIA_TYPE& mt, VideoGeometry* geometry) {
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER) || !mt.pbFormat)
        return false;
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.pbFormat, sizeof vih);
    const LONG w = vih.bmiHeader.biWidth, h = vih.bmiHeader.biHeight;
    // Bounds keep every size computation well inside 32 bits.
    if (w <= 0 || w > 16384 || h == 0 || h < -16384 || h > 16384)
        return false;
    geometry->width = w;
    geometry->height = std::abs(h);
    geometry->bottom_up = h > 0;
    geometry->time_per_frame = vih.AvgTimePerFrame;
    return true;
}

TransformInputPin::TransformInputPin(VideoTransformFilter& filter, std::u16string name)
    : BaseInputPin(filter, std::move(name)), m_owner(filter) {}

HRESULT TransformInputPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    return m_owner.CheckInputType(mt);
}

TransformOutputPin::TransformOutputPin(VideoTransformFilter& filter, std::u16string name)
    : BaseOutputPin(filter, std::move(name)), m_owner(filter) {}

HRESULT TransformOutputPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    if (!m_owner.Input().IsConnected())
        return VFW_E_NOT_CONNECTED;
    const MediaType in = m_owner.Input().ConnectionType();
    return m_owner.CheckTransform(in.Get(), mt);
}

std::vector<MediaType> TransformOutputPin::OfferedTypes() {
    if (!m_owner.Input().IsConnected())
        return {};
    const MediaType in = m_owner.Input().ConnectionType();
    return m_owner.OutputTypes(in.Get());
}

HRESULT TransformOutputPin::DecideBufferSize(ALLOCATOR_PROPERTIES& props) {
    const MediaType mt = ConnectionType();
    LONG size = static_cast<LONG>(mt->lSampleSize);
    if (const VIDEOINFOHEADER* vih = mt.VideoInfo())
        size = std::max<LONG>(size, static_cast<LONG>(vih->bmiHeader.biSizeImage));
    if (size <= 1)
        return VFW_E_SIZENOTSET;
    props.cBuffers = std::max<LONG>(props.cBuffers, 3);
    props.cbBuffer = std::max<LONG>(props.cbBuffer, size);
    return S_OK;
}

VideoTransformFilter::VideoTransformFilter(const GUID& clsid) : BaseFilter(clsid) {}

void VideoTransformFilter::CreatePins(std::unique_ptr<TransformOutputPin> output) {
    m_input = static_cast<TransformInputPin*>(
        AddPin(std::make_unique<TransformInputPin>(*this, u"XForm In")));
    if (!output)
        output = std::make_unique<TransformOutputPin>(*this, u"XForm Out");
    m_output = static_cast<TransformOutputPin*>(AddPin(std::move(output)));
}

bool DownstreamDrawSize(const TransformOutputPin& output, int* width, int* height) {
    const ComPtr<IPin> peer = output.Peer();
    ComPtr<IVideoDrawSize> draw;
    if (!peer || peer->QueryInterface(IVideoDrawSize::iid, draw.OutVoid()) != S_OK || !draw)
        return false;
    LONG w = 0, h = 0;
    if (draw->GetDrawSize(&w, &h) != S_OK || w <= 0 || h <= 0)
        return false;
    *width = int(w);
    *height = int(h);
    return true;
}

void SetSampleRgb32Size(IMediaSample* out, const MediaType& connection, int width, int height) {
    const VIDEOINFOHEADER* connected = connection.VideoInfo();
    if (!connected)
        return;
    VIDEOINFOHEADER vih = *connected;
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = connected->bmiHeader.biHeight < 0 ? -height : height;
    vih.bmiHeader.biSizeImage = DWORD(Rgb32ImageSize(width, height));
    vih.rcSource = {0, 0, width, height};
    vih.rcTarget = {0, 0, width, height};
    MediaType type = connection;
    type.SetFormat(&vih, sizeof vih);
    type->lSampleSize = vih.bmiHeader.biSizeImage;
    out->SetMediaType(&type.Get());
}

HRESULT VideoTransformFilter::OnActivate() {
    m_skipped.store(0);
    return S_OK;
}

HRESULT VideoTransformFilter::OnReceive(BaseInputPin& pin, IMediaSample* sample) {
    if (!m_output->IsConnected())
        return S_OK;  // Nobody downstream: the frame goes nowhere.
    // The input's type may change on a sample; this filter keeps the
    // connection's.
    const MediaType in_type = pin.ConnectionType();
    const MediaType out_type = m_output->ConnectionType();
    ComPtr<IMediaSample> out;
    HRESULT hr = m_output->GetDeliveryBuffer(out.ReleaseAndGetAddressOf(), 0);
    if (FAILED(hr))
        return State() == State_Stopped || pin.IsFlushing() ? S_FALSE : hr;
    hr = Transform(sample, in_type, out.Get(), out_type);
    if (hr == S_FALSE) {
        m_skipped.fetch_add(1);
        return S_OK;
    }
    if (FAILED(hr)) {
        NotifyEvent(EC_ERRORABORT, hr, 0);
        return hr;
    }
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT times = sample->GetTime(&start, &stop);
    if (times == S_OK)
        out->SetTime(&start, &stop);
    else if (times == VFW_S_NO_STOP_TIME)
        out->SetTime(&start, nullptr);
    LONGLONG media_start = 0, media_stop = 0;
    if (sample->GetMediaTime(&media_start, &media_stop) == S_OK)
        out->SetMediaTime(&media_start, &media_stop);
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
        // A type the transform gave its frame (a reduced preview) stays.
        AM_MEDIA_TYPE* own = nullptr;
        if (out->GetMediaType(&own) == S_OK && own)
            DeleteMediaType(own);
        else if (std::optional<MediaType> type = OutputTypeFor(*changed))
            out->SetMediaType(&type->Get());
        DeleteMediaType(changed);
    }
    out->SetSyncPoint(TRUE);  // Every output frame stands alone.
    out->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
    out->SetPreroll(sample->IsPreroll() == S_OK);
    return m_output->Deliver(out.Get());
}

void VideoTransformFilter::OnEndOfStream(BaseInputPin&) {
    m_output->DeliverEndOfStream();
}

void VideoTransformFilter::OnBeginFlush(BaseInputPin& pin) {
    BaseFilter::OnBeginFlush(pin);
    m_output->DeliverBeginFlush();
}

void VideoTransformFilter::OnEndFlush(BaseInputPin& pin) {
    BaseFilter::OnEndFlush(pin);
    m_output->DeliverEndFlush();
}

void VideoTransformFilter::OnNewSegment(BaseInputPin&, REFERENCE_TIME start, REFERENCE_TIME stop,
                                        double rate) {
    m_output->DeliverNewSegment(start, stop, rate);
}

}  // namespace ronvix::media
