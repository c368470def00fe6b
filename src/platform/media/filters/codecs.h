#pragma once
// The video codecs and converters of the engine: MJPEG Decompressor, MJPEG
// Compressor and Colour Space Converter. Connect inserts them by merit to
// bridge a video source and a sink that take different types.

#include "platform/com/classregistry.h"
#include "platform/media/interfaces.h"

namespace ronvix::media {

inline constexpr GUID CLSID_MjpegDecompressor =
    RONVIX_GUID("{301056D0-6DFF-11D2-9EEB-006008039E37}");
inline constexpr GUID CLSID_MjpegCompressor = RONVIX_GUID("{342E8FAA-DFAE-4009-BF62-1459090C694A}");
inline constexpr GUID CLSID_Colour = RONVIX_GUID("{1643E180-90F5-11CE-97D5-00AA0055595A}");

// Registers the three classes (also in the general filter category).
// Idempotent and thread-safe.
void RegisterCodecClasses();

com::ClassEntry MjpegDecompressorClassEntry();
com::ClassEntry MjpegCompressorClassEntry();
com::ClassEntry ColourConverterClassEntry();

// The quality a new MJPEG Compressor starts with.
inline constexpr double kDefaultJpegQuality = 0.75;

}  // namespace ronvix::media
