#pragma once
// The video codecs and converters of the engine: MJPEG Decompressor, MJPEG
// Compressor, Colour Space Converter, FFV1 Compressor and FFV1
// Decompressor. Connect inserts them by merit to bridge a video source and
// a sink that take different types.

#include "platform/com/classregistry.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

inline constexpr GUID CLSID_MjpegDecompressor =
    RONVIX_GUID("{301056D0-6DFF-11D2-9EEB-006008039E37}");
inline constexpr GUID CLSID_MjpegCompressor = RONVIX_GUID("{342E8FAA-DFAE-4009-BF62-1459090C694A}");
inline constexpr GUID CLSID_Colour = RONVIX_GUID("{1643E180-90F5-11CE-97D5-00AA0055595A}");
inline constexpr GUID CLSID_Ffv1Compressor = RONVIX_GUID("{D9B8F032-BF75-4AF9-93BB-8A77CFB022CC}");
inline constexpr GUID CLSID_Ffv1Decompressor =
    RONVIX_GUID("{768F4227-7760-4BE4-98B7-E926C7B54FE8}");

// Registers the five classes (also in the general filter category).
// Idempotent and thread-safe.
void RegisterCodecClasses();

com::ClassEntry MjpegDecompressorClassEntry();
com::ClassEntry MjpegCompressorClassEntry();
com::ClassEntry ColourConverterClassEntry();
com::ClassEntry Ffv1CompressorClassEntry();
com::ClassEntry Ffv1DecompressorClassEntry();

// The quality a new MJPEG Compressor starts with.
inline constexpr double kDefaultJpegQuality = 0.75;

}  // namespace ronvix::media
