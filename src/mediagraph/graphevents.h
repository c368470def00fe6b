#pragma once
// The component events a TFilterGraph fires for the platform's graph events,
// their handler types, and the decoding of event parameters.
//
// Event parameters are pointer-sized on this platform: an argument that the
// platform passes as a pointer (a filter, a pin, a wide string, a 64-bit
// time) is taken from its parameter whole. Handlers run on the user
// interface thread and receive the graph component as sender.

#include <QString>
#include <array>
#include <cstdint>
#include <functional>

#include "framework/events.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::mediagraph {

class TFilterGraph;

using com::HRESULT;
using com::LONG;
using com::LONG_PTR;

// Platform event codes the graph decodes.
enum : LONG {
    EC_COMPLETE = 0x01,
    EC_USERABORT = 0x02,
    EC_ERRORABORT = 0x03,
    EC_STREAM_ERROR_STOPPED = 0x06,
    EC_STREAM_ERROR_STILLPLAYING = 0x07,
    EC_ERROR_STILLPLAYING = 0x08,
    EC_PALETTE_CHANGED = 0x09,
    EC_VIDEO_SIZE_CHANGED = 0x0A,
    EC_QUALITY_CHANGE = 0x0B,
    EC_CLOCK_CHANGED = 0x0D,
    EC_PAUSED = 0x0E,
    EC_OPENING_FILE = 0x10,
    EC_BUFFERING_DATA = 0x11,
    EC_FULLSCREEN_LOST = 0x12,
    EC_OLE_EVENT = 0x18,
    EC_STREAM_CONTROL_STOPPED = 0x1A,
    EC_STREAM_CONTROL_STARTED = 0x1B,
    EC_END_OF_SEGMENT = 0x1C,
    EC_DEVICE_LOST = 0x1F,
    EC_STEP_COMPLETE = 0x24,
    EC_TIMECODE_AVAILABLE = 0x30,
    EC_EXTDEVICE_MODE_CHANGE = 0x31,
    EC_GRAPH_CHANGED = 0x50,
    EC_CLOCK_UNSET = 0x51,
    EC_VMR_RENDERDEVICE_SET = 0x53,
    EC_DVD_DOMAIN_CHANGE = 0x101,
    EC_DVD_TITLE_CHANGE = 0x102,
    EC_DVD_CHAPTER_START = 0x103,
    EC_DVD_AUDIO_STREAM_CHANGE = 0x104,
    EC_DVD_SUBPICTURE_STREAM_CHANGE = 0x105,
    EC_DVD_ANGLE_CHANGE = 0x106,
    EC_DVD_BUTTON_CHANGE = 0x107,
    EC_DVD_VALID_UOPS_CHANGE = 0x108,
    EC_DVD_STILL_ON = 0x109,
    EC_DVD_STILL_OFF = 0x10A,
    EC_DVD_CURRENT_TIME = 0x10B,
    EC_DVD_ERROR = 0x10C,
    EC_DVD_WARNING = 0x10D,
    EC_DVD_CHAPTER_AUTOSTOP = 0x10E,
    EC_DVD_NOFP_PGC = 0x10F,
    EC_DVD_PLAYBACK_RATE_CHANGE = 0x110,
    EC_DVD_PARENTAL_LEVEL_CHANGE = 0x111,
    EC_DVD_PLAYBACK_STOPPED = 0x112,
    EC_DVD_ANGLES_AVAILABLE = 0x113,
    EC_DVD_PLAYPERIOD_AUTOSTOP = 0x114,
    EC_DVD_BUTTON_AUTO_ACTIVATED = 0x115,
    EC_DVD_CMD_START = 0x116,
    EC_DVD_CMD_END = 0x117,
    EC_DVD_DISC_EJECTED = 0x118,
    EC_DVD_DISC_INSERTED = 0x119,
    EC_DVD_CURRENT_HMSF_TIME = 0x11A,
    EC_DVD_KARAOKE_MODE = 0x11B,
    EC_SNDDEV_IN_ERROR = 0x200,
    EC_SNDDEV_OUT_ERROR = 0x201,
};

// The platform's sound-device error kinds.
enum TSndDevErr : int32_t {
    SNDDEV_ERROR_Open = 1,
    SNDDEV_ERROR_Close = 2,
    SNDDEV_ERROR_GetCaps = 3,
    SNDDEV_ERROR_PrepareHeader = 4,
    SNDDEV_ERROR_UnprepareHeader = 5,
    SNDDEV_ERROR_Reset = 6,
    SNDDEV_ERROR_Restart = 7,
    SNDDEV_ERROR_GetPosition = 8,
    SNDDEV_ERROR_Write = 9,
    SNDDEV_ERROR_Pause = 10,
    SNDDEV_ERROR_Stop = 11,
    SNDDEV_ERROR_Start = 12,
    SNDDEV_ERROR_AddBuffer = 13,
    SNDDEV_ERROR_Query = 14,
};

// The platform's 4-byte DVD time record: hours, minutes, seconds, frames.
struct DVD_HMSF_TIMECODE {
    uint8_t bHours = 0;
    uint8_t bMinutes = 0;
    uint8_t bSeconds = 0;
    uint8_t bFrames = 0;
};

// The fields of the platform's packed DVD time code, as they stand.
struct DVD_TIMECODE {
    uint8_t Hours1 = 0;   // units
    uint8_t Hours10 = 0;  // tens
    uint8_t Minutes1 = 0;
    uint8_t Minutes10 = 0;
    uint8_t Seconds1 = 0;
    uint8_t Seconds10 = 0;
    uint8_t Frames1 = 0;
    uint8_t Frames10 = 0;
    uint8_t FrameRateCode = 0;  // 1: 25 fps, 3: 30 fps
};

// Splits a packed time code (least significant bits first).
DVD_TIMECODE DecodeTimeCode(uint32_t packed);
// The frame rate a time code's rate code names: 25, 30 or 0.
int FrameRateOf(const DVD_TIMECODE& code);

using TOnDSEvent =
    std::function<void(TFilterGraph* sender, LONG event, LONG_PTR param1, LONG_PTR param2)>;
using TOnGraphBufferingData = std::function<void(QObject* sender, bool buffering)>;
using TOnGraphComplete =
    std::function<void(QObject* sender, HRESULT result, media::IBaseFilter* renderer)>;
using TOnGraphDeviceLost =
    std::function<void(QObject* sender, com::IUnknown* device, bool removed)>;
using TOnGraphEndOfSegment =
    std::function<void(QObject* sender, com::REFERENCE_TIME stream_time, uint32_t num_segment)>;
using TOnDSResult = std::function<void(QObject* sender, HRESULT result)>;
using TOnGraphFullscreenLost = std::function<void(QObject* sender, media::IBaseFilter* renderer)>;
using TOnGraphOleEvent =
    std::function<void(QObject* sender, const QString& string1, const QString& string2)>;
using TOnGraphOpeningFile = std::function<void(QObject* sender, bool opening)>;
using TOnGraphSNDDevError =
    std::function<void(QObject* sender, TSndDevErr occur_when, uint32_t error_code)>;
using TOnGraphStreamControl =
    std::function<void(QObject* sender, media::IPin* pin_sender, uint32_t cookie)>;
using TOnGraphStreamError = std::function<void(QObject* sender, HRESULT operation, uint32_t value)>;
using TOnGraphVideoSizeChanged =
    std::function<void(QObject* sender, uint16_t width, uint16_t height)>;
using TOnGraphTimeCodeAvailable =
    std::function<void(QObject* sender, media::IBaseFilter* from, uint32_t device_id)>;
using TOnGraphEXTDeviceModeChange =
    std::function<void(QObject* sender, uint32_t new_mode, uint32_t device_id)>;
using TOnGraphVMRRenderDevice = std::function<void(QObject* sender, int render_device)>;
using TOnDVDStreamChange =
    std::function<void(QObject* sender, int stream, int lcid, const QString& lang)>;
using TOnDVDAudioStreamChange = TOnDVDStreamChange;
using TOnDVDSubpictureStreamChange = TOnDVDStreamChange;
using TOnDVDCurrentTime = std::function<void(QObject* sender, int hours, int minutes, int seconds,
                                             int frames, int frate)>;
using TOnDVDTitleChange = std::function<void(QObject* sender, int title)>;
using TOnDVDChapterStart = std::function<void(QObject* sender, int chapter)>;
using TOnDVDChange = std::function<void(QObject* sender, int total, int current)>;
using TOnDVDValidUOPSChange = std::function<void(QObject* sender, int uops)>;
using TOnDVDStillOn = std::function<void(QObject* sender, bool no_button_available, int seconds)>;
using TOnDVDPlaybackRateChange = std::function<void(QObject* sender, float rate)>;
using TOnDVDParentalLevelChange = std::function<void(QObject* sender, int level)>;
using TOnDVDAnglesAvailable = std::function<void(QObject* sender, bool available)>;
using TOnDVDButtonAutoActivated = std::function<void(QObject* sender, uint32_t button)>;
using TOnDVDCMD = std::function<void(QObject* sender, uint32_t cmd_id)>;
using TOnDVDCurrentHMSFTime = std::function<void(QObject* sender, DVD_HMSF_TIMECODE hmsf_time_code,
                                                 const DVD_TIMECODE& time_code)>;
using TOnDVDKaraokeMode = std::function<void(QObject* sender, bool played)>;

// The English name of a locale's language ("English", "German", ...), or
// empty when the locale is not known.
QString LocaleLanguageName(uint32_t lcid);

}  // namespace ronvix::mediagraph
