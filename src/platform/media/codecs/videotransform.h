#pragma once
// A base for video filters that turn each input frame into one output frame
// of another type (the MJPEG codecs, the colour space converter).
//
// Connection: the input connects first; the output then offers the types
// the filter makes from that input (OutputTypes) and accepts a type the
// downstream pin proposes when CheckTransform agrees.
// Streaming: Receive runs on the upstream streaming thread. It waits for an
// output buffer (back-pressure; a stop or flush wakes it), converts and
// delivers. A frame that cannot be converted (a corrupt JPEG) is skipped and
// counted; the stream goes on. Flushes, end of stream and new segments go
// downstream unchanged. A type an input sample carries (a source telling
// its real frame rate, interlacing or display aspect on its first frame)
// goes on with the output sample as the filter's OutputTypeFor makes it.

#include <atomic>
#include <optional>

#include "platform/media/core/filter.h"

namespace ronvix::media {

class VideoTransformFilter;

class TransformInputPin final : public BaseInputPin {
public:
    TransformInputPin(VideoTransformFilter& filter, std::u16string name);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;

private:
    VideoTransformFilter& m_owner;
};

class TransformOutputPin : public BaseOutputPin {
public:
    TransformOutputPin(VideoTransformFilter& filter, std::u16string name);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    std::vector<MediaType> OfferedTypes() override;

protected:
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override;

private:
    VideoTransformFilter& m_owner;
};

// Streaming thread: the size the output's peer draws pictures at now
// (IVideoDrawSize), false when it does not say.
bool DownstreamDrawSize(const TransformOutputPin& output, int* width, int* height);
// The connection's RGB32 type (rate, row order kept) for a picture of
// `width` x `height`, set on `out` as the type of this sample alone.
void SetSampleRgb32Size(IMediaSample* out, const MediaType& connection, int width, int height);

class VideoTransformFilter : public BaseFilter {
public:
    explicit VideoTransformFilter(const GUID& clsid);

    TransformInputPin& Input() const { return *m_input; }
    TransformOutputPin& Output() const { return *m_output; }
    // Frames that could not be converted since the filter last left Stopped.
    LONG SkippedFrames() const { return m_skipped.load(); }

    // Whether the filter takes `in` at its input.
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE& in) = 0;
    // The output types for input `in`, in order of preference.
    virtual std::vector<MediaType> OutputTypes(const AM_MEDIA_TYPE& in) = 0;
    // Whether the filter converts `in` to `out`.
    virtual HRESULT CheckTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) = 0;
    // Converts one frame; writes the output length. S_FALSE skips the
    // frame (corrupt input); a failure stops the stream with an error.
    // Called on the streaming thread with the connection types.
    virtual HRESULT Transform(IMediaSample* in, const MediaType& in_type, IMediaSample* out,
                              const MediaType& out_type) = 0;
    // The type an output sample carries for an input sample that carried
    // `in_change`; nothing (the default) passes no type on. The conversion
    // itself keeps the connection types. Streaming thread.
    virtual std::optional<MediaType> OutputTypeFor(const AM_MEDIA_TYPE& in_change) {
        (void)in_change;
        return std::nullopt;
    }

    HRESULT OnReceive(BaseInputPin& pin, IMediaSample* sample) override;
    void OnEndOfStream(BaseInputPin& pin) override;
    void OnBeginFlush(BaseInputPin& pin) override;
    void OnEndFlush(BaseInputPin& pin) override;
    void OnNewSegment(BaseInputPin& pin, REFERENCE_TIME start, REFERENCE_TIME stop,
                      double rate) override;

protected:
    // Makes the two pins; every subclass constructor calls it once. A null
    // `output` makes a plain output pin.
    void CreatePins(std::unique_ptr<TransformOutputPin> output = nullptr);
    HRESULT OnActivate() override;

private:
    TransformInputPin* m_input = nullptr;
    TransformOutputPin* m_output = nullptr;
    std::atomic<LONG> m_skipped{0};
};

// Helpers over VideoInfo types.
struct VideoGeometry {
    int width = 0;
    int height = 0;         // absolute
    bool bottom_up = true;  // RGB with a positive height
    REFERENCE_TIME time_per_frame = 0;
};
// False when `mt` is not a video type with a usable VideoInfo block.
bool ReadGeometry(const AM_MEDIA_TYPE& mt, VideoGeometry* geometry);
// Whether `out` is a VideoInfo type of `subtype` with the picture size of
// `in`: the output a transform that keeps the size accepts.
bool SameSizeAs(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out, const GUID& subtype);

}  // namespace ronvix::media
