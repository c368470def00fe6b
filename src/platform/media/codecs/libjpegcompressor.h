#pragma once
// libjpeg's compressor set up for coding planes as they are (raw data: no
// colour conversion, no downsampling), shared by the coders that feed it
// strip by strip. Errors return to the caller through `jump` (libjpeg's own
// handler ends the process): a caller does `if (setjmp(c.jump))` before its
// first libjpeg call and aborts the frame there. Nothing is printed.
//
// The destination is either a vector the owner keeps (grown as needed, so
// coding allocates nothing once it has grown) or a fixed span (a frame that
// does not fit fails with a codec error).

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace ronvix::media {

// libjpeg's error manager for coders that return on errors: error_exit
// jumps back to `jump` (libjpeg's own handler would end the process) and
// nothing is printed. Warnings (a damaged stream decoded as far as it goes)
// are not errors. Set a codec's `err` to &errors.
struct LibjpegJumpErrors {
    jpeg_error_mgr errors{};  // first, so libjpeg's err pointer finds `jump`
    std::jmp_buf jump{};

    LibjpegJumpErrors() {
        jpeg_std_error(&errors);
        errors.error_exit = [](j_common_ptr info) {
            std::longjmp(reinterpret_cast<LibjpegJumpErrors*>(info->err)->jump, 1);
        };
        errors.output_message = [](j_common_ptr) {};
    }
};

struct LibjpegCompressor : LibjpegJumpErrors {
    jpeg_compress_struct cinfo{};
    jpeg_destination_mgr destination{};
    std::vector<uint8_t>* out = nullptr;  // grown when set
    std::span<uint8_t> fixed;             // otherwise the frame goes here
    size_t written = 0;                   // bytes of the last finished frame

    LibjpegCompressor() {
        cinfo.err = &errors;
        cinfo.client_data = this;
        jpeg_create_compress(&cinfo);
        destination.init_destination = [](j_compress_ptr info) {
            auto* self = static_cast<LibjpegCompressor*>(info->client_data);
            if (self->out) {
                self->out->resize(self->out->capacity() > 0 ? self->out->capacity() : 65536);
                info->dest->next_output_byte = self->out->data();
                info->dest->free_in_buffer = self->out->size();
            } else {
                info->dest->next_output_byte = self->fixed.data();
                info->dest->free_in_buffer = self->fixed.size();
            }
        };
        destination.empty_output_buffer = [](j_compress_ptr info) -> boolean {
            auto* self = static_cast<LibjpegCompressor*>(info->client_data);
            if (!self->out)
                return FALSE;  // no suspension here: libjpeg reports an error
            const size_t used = self->out->size();
            self->out->resize(used * 2);
            info->dest->next_output_byte = self->out->data() + used;
            info->dest->free_in_buffer = self->out->size() - used;
            return TRUE;
        };
        destination.term_destination = [](j_compress_ptr info) {
            auto* self = static_cast<LibjpegCompressor*>(info->client_data);
            if (self->out) {
                self->out->resize(self->out->size() - info->dest->free_in_buffer);
                self->written = self->out->size();
            } else {
                self->written = self->fixed.size() - info->dest->free_in_buffer;
            }
        };
        cinfo.dest = &destination;
    }
    ~LibjpegCompressor() { jpeg_destroy_compress(&cinfo); }
    LibjpegCompressor(const LibjpegCompressor&) = delete;
    LibjpegCompressor& operator=(const LibjpegCompressor&) = delete;

    // Starts a baseline YCbCr frame of raw planes: luma sampled 2x1 against
    // the chroma (4:2:2) or 2x2 (4:2:0), standard Huffman tables, the fast
    // integer DCT. Call after setjmp(jump).
    void StartRaw(int width, int height, bool chroma_half_height, int quality,
                  bool restart_every_row) {
        written = 0;
        cinfo.image_width = static_cast<JDIMENSION>(width);
        cinfo.image_height = static_cast<JDIMENSION>(height);
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_YCbCr;
        jpeg_set_defaults(&cinfo);
        jpeg_set_colorspace(&cinfo, JCS_YCbCr);
        jpeg_set_quality(&cinfo, quality, TRUE);
        cinfo.raw_data_in = TRUE;
        cinfo.dct_method = JDCT_IFAST;
        cinfo.optimize_coding = FALSE;
        cinfo.restart_in_rows = restart_every_row ? 1 : 0;
        cinfo.comp_info[0].h_samp_factor = 2;
        cinfo.comp_info[0].v_samp_factor = chroma_half_height ? 2 : 1;
        for (int i = 1; i < 3; ++i) {
            cinfo.comp_info[i].h_samp_factor = 1;
            cinfo.comp_info[i].v_samp_factor = 1;
        }
        jpeg_start_compress(&cinfo, TRUE);
    }
};

}  // namespace ronvix::media
