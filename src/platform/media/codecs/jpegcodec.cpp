#include "platform/media/codecs/jpegcodec.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/media/codecs/libjpegcompressor.h"

namespace ronvix::media {

int JpegQualityFromFraction(double quality) {
    if (!std::isfinite(quality))
        return 75;
    return static_cast<int>(std::clamp(std::lround(quality * 100.0), 1L, 100L));
}

JpegEncoder::JpegEncoder() : m_handle(tjInitCompress()) {}

JpegEncoder::~JpegEncoder() {
    if (m_handle)
        tjDestroy(m_handle);
}

size_t JpegEncoder::MaxSize(int width, int height) {
    if (width <= 0 || height <= 0)
        return 0;
    const unsigned long size = tjBufSize(width, height, TJSAMP_422);
    return size == static_cast<unsigned long>(-1) ? 0 : static_cast<size_t>(size);
}

size_t JpegEncoder::EncodeYuv422(const Yuv422Image& image, int quality, std::span<uint8_t> dst) {
    if (!m_handle || image.width <= 0 || image.height <= 0 ||
        dst.size() < MaxSize(image.width, image.height))
        return 0;
    const unsigned char* planes[3] = {image.y.data(), image.u.data(), image.v.data()};
    const int strides[3] = {image.width, image.ChromaWidth(), image.ChromaWidth()};
    unsigned char* out = dst.data();
    unsigned long size = static_cast<unsigned long>(dst.size());
    if (tjCompressFromYUVPlanes(m_handle, planes, image.width, strides, image.height, TJSAMP_422,
                                &out, &size, std::clamp(quality, 1, 100),
                                TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0)
        return 0;
    return static_cast<size_t>(size);
}

size_t JpegEncoder::EncodeYuvPlanes(const YuvPlanes& image, int quality, std::span<uint8_t> dst) {
    if (!m_handle || image.width <= 0 || image.height <= 0 ||
        dst.size() < MaxSize(image.width, image.height))
        return 0;
    const unsigned char* planes[3] = {image.y.data(), image.u.data(), image.v.data()};
    const int strides[3] = {image.width, image.ChromaWidth(), image.ChromaWidth()};
    unsigned char* out = dst.data();
    unsigned long size = static_cast<unsigned long>(dst.size());
    if (tjCompressFromYUVPlanes(m_handle, planes, image.width, strides, image.height,
                                image.half_height ? TJSAMP_420 : TJSAMP_422, &out, &size,
                                std::clamp(quality, 1, 100),
                                TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0)
        return 0;
    return static_cast<size_t>(size);
}

size_t JpegEncoder::EncodeStudioYuv(const uint8_t* src, YuvLayout layout, int width, int height,
                                    int quality, std::span<uint8_t> dst) {
    if (!src || !YuvSizeUsable(layout, width, height) || dst.size() < MaxSize(width, height))
        return 0;
    if (!m_strips)
        m_strips = std::make_unique<LibjpegCompressor>();
    LibjpegCompressor& c = *m_strips;
    jpeg_compress_struct& cinfo = c.cinfo;
    c.out = nullptr;
    c.fixed = dst;
    if (setjmp(c.jump)) {
        jpeg_abort_compress(&cinfo);
        return 0;
    }
    const bool half = IsYuv420(layout);
    c.StartRaw(width, height, half, std::clamp(quality, 1, 100), false);

    // One MCU row: 8 lines (4:2:2) or 16 (4:2:0) of luma, 8 of chroma, each
    // row as wide as the MCUs that cover it (its last sample repeated), the
    // last MCU row filled with the picture's last line.
    const int mcu_lines = half ? 16 : 8;
    const int chroma_lines = 8;
    const size_t w = size_t(width), cw = w / 2;
    const size_t padded = (w + 15) & ~size_t(15), chroma_padded = padded / 2;
    m_strip_y.resize(padded * size_t(mcu_lines));
    m_strip_u.resize(chroma_padded * chroma_lines);
    m_strip_v.resize(chroma_padded * chroma_lines);
    JSAMPROW y_rows[16], u_rows[8], v_rows[8];
    JSAMPARRAY planes[3] = {y_rows, u_rows, v_rows};
    for (int line0 = 0; line0 < height; line0 += mcu_lines) {
        const int lines = std::min(mcu_lines, height - line0);
        const int strip_chroma = half ? lines / 2 : lines;
        StudioYuvStripToPlanes(src, layout, width, height, line0, lines, m_strip_y.data(), padded,
                               m_strip_u.data(), m_strip_v.data(), chroma_padded);
        if (padded != w) {
            auto pad = [](uint8_t* row, size_t used, size_t stride, int rows) {
                for (int r = 0; r < rows; ++r, row += stride)
                    std::memset(row + used, row[used - 1], stride - used);
            };
            pad(m_strip_y.data(), w, padded, lines);
            pad(m_strip_u.data(), cw, chroma_padded, strip_chroma);
            pad(m_strip_v.data(), cw, chroma_padded, strip_chroma);
        }
        for (int i = 0; i < mcu_lines; ++i)
            y_rows[i] = m_strip_y.data() + size_t(std::min(i, lines - 1)) * padded;
        for (int i = 0; i < chroma_lines; ++i) {
            const size_t row = size_t(std::min(i, strip_chroma - 1)) * chroma_padded;
            u_rows[i] = m_strip_u.data() + row;
            v_rows[i] = m_strip_v.data() + row;
        }
        if (jpeg_write_raw_data(&cinfo, planes, JDIMENSION(mcu_lines)) == 0)
            break;
    }
    jpeg_finish_compress(&cinfo);
    return c.written;
}

size_t JpegEncoder::EncodePacked(const uint8_t* pixels, int width, int height, int stride,
                                 int format, bool bottom_up, int quality, std::span<uint8_t> dst) {
    if (!m_handle || !pixels || width <= 0 || height <= 0 || dst.size() < MaxSize(width, height))
        return 0;
    unsigned char* out = dst.data();
    unsigned long size = static_cast<unsigned long>(dst.size());
    const int flags = TJFLAG_NOREALLOC | TJFLAG_FASTDCT | (bottom_up ? TJFLAG_BOTTOMUP : 0);
    if (tjCompress2(m_handle, pixels, width, stride, height, format, &out, &size, TJSAMP_422,
                    std::clamp(quality, 1, 100), flags) != 0)
        return 0;
    return static_cast<size_t>(size);
}

size_t JpegEncoder::EncodeRgb32(const uint8_t* pixels, int width, int height, bool bottom_up,
                                int quality, std::span<uint8_t> dst) {
    return EncodePacked(pixels, width, height, Rgb32Stride(width), TJPF_BGRX, bottom_up, quality,
                        dst);
}

size_t JpegEncoder::EncodeRgb24(const uint8_t* pixels, int width, int height, bool bottom_up,
                                int quality, std::span<uint8_t> dst) {
    return EncodePacked(pixels, width, height, Rgb24Stride(width), TJPF_BGR, bottom_up, quality,
                        dst);
}

// libjpeg's decompressor for reading a stream's own samples (raw data);
// errors return through `jump` as in LibjpegCompressor.
struct LibjpegDecompressor : LibjpegJumpErrors {
    jpeg_decompress_struct cinfo{};

    LibjpegDecompressor() {
        cinfo.err = &errors;
        jpeg_create_decompress(&cinfo);
    }
    ~LibjpegDecompressor() { jpeg_destroy_decompress(&cinfo); }
    LibjpegDecompressor(const LibjpegDecompressor&) = delete;
    LibjpegDecompressor& operator=(const LibjpegDecompressor&) = delete;
};

JpegDecoder::JpegDecoder() : m_handle(tjInitDecompress()) {}

JpegDecoder::~JpegDecoder() {
    if (m_handle)
        tjDestroy(m_handle);
}

bool JpegDecoder::ReadSize(std::span<const uint8_t> jpeg, int* width, int* height) {
    if (!m_handle || jpeg.empty() || !width || !height)
        return false;
    int subsamp = 0, colourspace = 0;
    if (tjDecompressHeader3(m_handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), width,
                            height, &subsamp, &colourspace) != 0)
        return false;
    return *width > 0 && *height > 0;
}

bool JpegDecoder::DecodeRgb32(std::span<const uint8_t> jpeg, int width, int height, bool bottom_up,
                              uint8_t* dst) {
    int w = 0, h = 0;
    if (!dst || !ReadSize(jpeg, &w, &h) || w != width || h != height)
        return false;
    const int flags = TJFLAG_FASTDCT | (bottom_up ? TJFLAG_BOTTOMUP : 0);
    // A warning (a truncated but decodable stream) still gives a picture;
    // only a fatal error is a failure.
    if (tjDecompress2(m_handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), dst, width,
                      Rgb32Stride(width), height, TJPF_BGRA, flags) != 0)
        return tjGetErrorCode(m_handle) == TJERR_WARNING;
    return true;
}

int JpegDecoder::ScaleEighthsCovering(int width, int height, int min_width, int min_height) {
    for (int eighths : {1, 2, 4})
        if (ScaledSide(width, eighths) >= min_width && ScaledSide(height, eighths) >= min_height)
            return eighths;
    return 8;
}

bool JpegDecoder::DecodeRgb32Scaled(std::span<const uint8_t> jpeg, int width, int height,
                                    int eighths, bool bottom_up, uint8_t* dst) {
    if (eighths == 8)
        return DecodeRgb32(jpeg, width, height, bottom_up, dst);
    int w = 0, h = 0;
    if (!dst || (eighths != 1 && eighths != 2 && eighths != 4) || !ReadSize(jpeg, &w, &h) ||
        w != width || h != height)
        return false;
    const int sw = ScaledSide(width, eighths), sh = ScaledSide(height, eighths);
    // A reduced picture is for showing: its chroma is taken as it is
    // (merged with the colour conversion) rather than smoothed first.
    const int flags = TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE | (bottom_up ? TJFLAG_BOTTOMUP : 0);
    // Asked for the scaled size, the decoder takes the largest of its scales
    // that fits it: exactly `eighths`/8.
    if (tjDecompress2(m_handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), dst, sw,
                      Rgb32Stride(sw), sh, TJPF_BGRA, flags) != 0)
        return tjGetErrorCode(m_handle) == TJERR_WARNING;
    return true;
}

bool JpegDecoder::DecodeYuy2(std::span<const uint8_t> jpeg, int width, int height, uint8_t* dst) {
    if (!dst || jpeg.empty() || width <= 0 || height <= 0)
        return false;
    const int raw = DecodeYuy2Raw(jpeg, width, height, dst);
    if (raw >= 0)
        return raw == 1;
    m_rgb.resize(Rgb32ImageSize(width, height));
    if (!DecodeRgb32(jpeg, width, height, false, m_rgb.data()))
        return false;
    Rgb32ToYuy2(m_rgb.data(), false, width, height, dst);
    return true;
}

int JpegDecoder::DecodeYuy2Raw(std::span<const uint8_t> jpeg, int width, int height, uint8_t* dst) {
    if (!m_strips)
        m_strips = std::make_unique<LibjpegDecompressor>();
    jpeg_decompress_struct& cinfo = m_strips->cinfo;
    if (setjmp(m_strips->jump)) {
        jpeg_abort_decompress(&cinfo);
        return 0;
    }
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK ||
        cinfo.image_width != JDIMENSION(width) || cinfo.image_height != JDIMENSION(height)) {
        jpeg_abort_decompress(&cinfo);
        return 0;
    }
    // 4:2:2: the chroma at half the luma's width and at its height, however
    // the stream writes the factors (2x1 and 1x1, or 2x2 and 1x2 as some
    // coders do).
    const jpeg_component_info* comp = cinfo.comp_info;
    if (cinfo.num_components != 3 || cinfo.jpeg_color_space != JCS_YCbCr ||
        comp[0].h_samp_factor != 2 * comp[1].h_samp_factor ||
        comp[1].h_samp_factor != comp[2].h_samp_factor ||
        comp[0].v_samp_factor != comp[1].v_samp_factor ||
        comp[1].v_samp_factor != comp[2].v_samp_factor) {
        jpeg_abort_decompress(&cinfo);
        return -1;
    }
    cinfo.raw_data_out = TRUE;
    cinfo.dct_method = JDCT_IFAST;  // as the RGB32 decode
    jpeg_start_decompress(&cinfo);
    // One MCU row a call: as many lines of each component (8 per vertical
    // factor, at most 4), each row as wide as the component's blocks.
    const int lines_per_call = comp[0].v_samp_factor * DCTSIZE;
    const size_t luma_stride = size_t(comp[0].width_in_blocks) * DCTSIZE;
    const size_t chroma_stride = size_t(comp[1].width_in_blocks) * DCTSIZE;
    m_strip_y.resize(luma_stride * size_t(lines_per_call));
    m_strip_u.resize(chroma_stride * size_t(lines_per_call));
    m_strip_v.resize(chroma_stride * size_t(lines_per_call));
    constexpr int kMaxLines = MAX_SAMP_FACTOR * DCTSIZE;
    JSAMPROW y_rows[kMaxLines], u_rows[kMaxLines], v_rows[kMaxLines];
    for (int i = 0; i < lines_per_call; ++i) {
        y_rows[i] = m_strip_y.data() + size_t(i) * luma_stride;
        u_rows[i] = m_strip_u.data() + size_t(i) * chroma_stride;
        v_rows[i] = m_strip_v.data() + size_t(i) * chroma_stride;
    }
    JSAMPARRAY planes[3] = {y_rows, u_rows, v_rows};
    const size_t pairs = size_t(width / 2);
    const size_t stride = size_t(Yuy2Stride(width & ~1));
    while (cinfo.output_scanline < cinfo.output_height) {
        const int line0 = int(cinfo.output_scanline);
        if (jpeg_read_raw_data(&cinfo, planes, JDIMENSION(lines_per_call)) == 0)
            break;  // cannot happen with the whole stream in memory
        const int lines = std::min(lines_per_call, height - line0);
        for (int r = 0; r < lines; ++r)
            FullPlanesRowToYuy2(y_rows[r], u_rows[r], v_rows[r], pairs,
                                dst + size_t(line0 + r) * stride);
    }
    const bool whole = cinfo.output_scanline >= cinfo.output_height;
    jpeg_abort_decompress(&cinfo);
    return whole ? 1 : 0;
}

HRESULT JpegCompressionInfo(std::u16string_view description, double default_quality, LPWSTR version,
                            int* version_len, LPWSTR description_out, int* description_len,
                            LONG* def_key_frame_rate, LONG* def_p_frames_per_key,
                            double* def_quality, LONG* capabilities) {
    auto copy = [](std::u16string_view text, LPWSTR dst, int* len) {
        if (!len)
            return;
        if (dst && *len > 0)
            CopyName(text, dst, static_cast<size_t>(*len));
        *len = static_cast<int>(text.size() + 1);
    };
    copy(u"1.0", version, version_len);
    copy(description, description_out, description_len);
    if (def_key_frame_rate)
        *def_key_frame_rate = 1;
    if (def_p_frames_per_key)
        *def_p_frames_per_key = 0;
    if (def_quality)
        *def_quality = default_quality;
    if (capabilities)
        *capabilities = 1;  // CompressionCaps_CanQuality
    return com::S_OK;
}

}  // namespace ronvix::media
