#pragma once
// V4L2 devices: cameras and capture cards (video input category) and video
// outputs such as a loopback device (transmit category).
//
// What a caller may rely on:
// - RegisterV4l2Devices() adds one provider per category. Each enumeration
//   lists the /dev/video* nodes present then whose device capabilities
//   include single-planar video capture (or output) with streaming or
//   read/write I/O, sorted by node number; a node that appeared since the
//   last enumeration is listed, one that went is not. A device's identity
//   is its /dev/v4l/by-id link (else its by-path link, else the node
//   path), its friendly name the card name the driver reports; two devices
//   of one name are both listed and each binds to its own node. A node
//   that is present but cannot be opened or queried at that moment (busy
//   with a driver that takes one opener, a probe that failed) keeps its
//   place with what an earlier enumeration learned of it, as long as its
//   stable name is still the same; the list of a category does not change
//   with the state its devices are in.
// - A device filter is cheap: it opens its node when its graph leaves
//   Stopped and closes it when stopped. Controls (picture amplifier, camera
//   controls, JPEG quality, the analog input and standard) act on the
//   device whether or not the filter is in a graph and go through one
//   control handle per device, which every filter instance of that device
//   shares for the life of the process.
// - The capture pin offers MJPG (and JPEG), YUYV, UYVY, NV12 and YU12
//   pictures (as YUY2, UYVY, NV12 and I420), every size and rate the driver
//   lists (a television decoder that lists none: its standard's full and
//   half frame). H.264 and other codecs are not offered: the capture path
//   takes MJPG, and a stream coded across frames cannot have frames left
//   out to keep time. An uncompressed frame goes out packed (the driver's
//   row padding left out) and only when the driver filled all of it
//   (bytesused); one cut short is dropped and counted.
// - Fields: a television decoder is asked for both fields in each frame;
//   the order the driver answers (or its standard's, 525 lines bottom field
//   first) is read back, fields stored one after the other are woven line
//   by line, and a driver that gives one field per buffer fails the start
//   (VFW_E_TYPE_NOT_ACCEPTED). The first frame of an interlaced or analog
//   stream carries a VideoInfo2 type: the rate the driver runs at, the
//   interlace flags with the field order, and the display aspect (4:3 for
//   an analog frame, whatever its pixel count); a progressive camera's
//   first frame carries a VideoInfo type with the driver's rate when it
//   differs from the connection's.
// - A node that vanishes while streaming ends the stream and raises
//   EC_DEVICE_LOST (param1 the filter's IUnknown, param2 0) in the
//   filter's graph, once per run.
//
// The system calls go through V4l2System (v4l2system.h), so tests run the
// devices against a scripted fake.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/devices/captureparts.h"
#include "platform/media/devices/v4l2/v4l2system.h"

namespace ronvix::media {

inline constexpr GUID CLSID_V4l2Capture = RONVIX_GUID("{5E0B7A4C-3F1D-4B8E-9C62-8D14A7F03B21}");
inline constexpr GUID CLSID_V4l2Output = RONVIX_GUID("{9A3C61F2-0E7B-4D55-B1A8-2C6F94E8D307}");

// Adds the V4L2 capture and output providers to the device registry and
// the two classes to the class registry. Idempotent and thread-safe; call
// before the virtual devices register, so that real devices come first.
void RegisterV4l2Devices();

// One node as an enumeration found it.
struct V4l2Node {
    std::string path;      // "/dev/video0"
    std::string identity;  // stable name, or the path when it has none
    std::string card;      // what the driver calls the device
    uint32_t caps = 0;     // device capabilities (V4L2_CAP_*)
};

enum class V4l2Direction { Capture, Output };

// What enumerations learned of the nodes of one system, by path, so that a
// node that cannot be probed now keeps its place. Thread-safe.
class V4l2NodeMemory {
public:
    void Remember(const V4l2Node& node);
    // The node last learned at `path`, when its identity is still
    // `identity`.
    std::optional<V4l2Node> Recall(const std::string& path, const std::string& identity) const;

private:
    mutable std::mutex m_lock;
    std::map<std::string, V4l2Node> m_nodes;  // guarded by m_lock
};

// The nodes of `system` that can stream in `direction`, sorted by node
// number. A node that cannot be opened or queried is left out, unless
// `memory` knows it (under the same stable name): it is then listed as it
// was learned. Every node probed is remembered in `memory`.
std::vector<V4l2Node> FindV4l2Nodes(V4l2System& system, V4l2Direction direction,
                                    V4l2NodeMemory* memory = nullptr);

// The engine subtype of a V4L2 pixel format (MJPG and JPEG as MJPG, YUYV
// as YUY2, UYVY, NV12, YU12 as I420), or GUID_NULL when the engine cannot
// carry it.
GUID SubtypeOfFourcc(uint32_t fourcc);
uint32_t FourccOfSubtype(const GUID& subtype);

// The capture formats of an open node: every frame size and interval of
// every pixel format the engine can carry, the current format (VIDIOC_G_FMT
// with its VIDIOC_G_PARM interval) first.
std::vector<CaptureFormat> ReadCaptureFormats(V4l2System& system, int fd);

// New device filters for `node` on `system`; interface `riid` of the filter
// through `out`. MK_E_NOOBJECT when the node is gone.
HRESULT CreateV4l2Capture(const std::shared_ptr<V4l2System>& system, const V4l2Node& node,
                          REFIID riid, void** out);
HRESULT CreateV4l2Output(const std::shared_ptr<V4l2System>& system, const V4l2Node& node,
                         REFIID riid, void** out);

// The V4L2 standard bits of an analog television standard flag
// (AnalogVideo_*; one flag), and the flags a set of V4L2 standard bits
// touches. A flag stands for every V4L2 variant it covers (PAL_D for PAL-D,
// -D1 and -K).
uint64_t V4l2StdOfTvFormat(LONG format);
LONG TvFormatsOfV4l2Std(uint64_t std);
// Whether the standard bits name a 525-line (60 field) system.
bool Is525Lines(uint64_t std);

// The interfaces a device's controls are asked through.
enum class ControlSet { ProcAmp, Camera };

// A capture card's analog side, as its driver describes it.
struct V4l2AnalogSide {
    struct Input {
        std::string name;
        uint32_t type = 0;      // V4L2_INPUT_TYPE_*
        uint64_t std = 0;       // the standards it takes; 0 for a digital input
        uint32_t audioset = 0;  // bit n: audio input n goes with it
    };
    std::vector<Input> inputs;
    std::vector<std::string> audio_inputs;
    uint64_t standards = 0;  // every standard the decoder takes

    // A decoder to set the standard of, and an input switch worth showing
    // (more than one input, a tuner, or sound to route).
    bool HasDecoder() const { return standards != 0; }
    bool HasCrossbar() const;
};

// A device's control handle, shared by every filter instance of the device.
// Thread-safe. Each call opens the node, makes its control calls and closes
// it, so a control works while a stream runs and fails cleanly
// (HRESULT from errno) once the device is gone.
class V4l2Controls {
public:
    // The handle of the device `node` names (by identity) on `system`.
    static std::shared_ptr<V4l2Controls> For(const std::shared_ptr<V4l2System>& system,
                                             const V4l2Node& node);

    V4l2Controls(std::shared_ptr<V4l2System> system, std::string path);

    // IAMVideoProcAmp and IAMCameraControl over the device's V4L2 controls,
    // with the device's ranges, steps and defaults. The amplifier's
    // brightness, contrast, saturation and sharpness have no automatic
    // mode: Set applies the value whatever its flags. Hue, white balance,
    // gain, exposure and focus follow their driver's automatic control
    // where it has one: Set with the automatic flag hands the value to the
    // driver, with the manual flag takes it back and applies the value.
    // E_PROP_ID_UNSUPPORTED for a property the device lacks, E_INVALIDARG
    // for a value outside its range.
    HRESULT GetRange(ControlSet set, LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                     LONG* caps);
    HRESULT Set(ControlSet set, LONG property, LONG value, LONG flags);
    HRESULT Get(ControlSet set, LONG property, LONG* value, LONG* flags);
    // The name of `value` of a menu control (the power-line frequency):
    // S_OK with the name, S_FALSE when the property is no menu.
    HRESULT ValueName(ControlSet set, LONG property, LONG value, std::u16string* name);
    // Whether the device has any camera control at all.
    bool HasCameraControls();

    // The JPEG quality (0..1): the device's V4L2_CID_JPEG_COMPRESSION_QUALITY
    // scaled over its range when it has one, otherwise a value kept here for
    // the MJPEG Compressor that encodes this device's frames.
    bool HasJpegQuality();
    HRESULT SetQuality(double quality);
    double Quality();

    // The analog side, read from the driver once (the first call that
    // reaches the node).
    V4l2AnalogSide AnalogSide();
    // The video input (VIDIOC_S_INPUT), the audio input (VIDIOC_S_AUDIO)
    // and the standard (VIDIOC_S_STD, V4L2 bits) the session chose. Each
    // is set on the device at once and kept here for the session: a stream
    // that opens the node sets them again before its format (ApplyChoices),
    // so the choice holds whatever the driver does between openings.
    HRESULT SetInput(int input);
    HRESULT GetInput(int* input);
    HRESULT SetAudioInput(int input);
    HRESULT GetAudioInput(int* input);
    HRESULT SetStandard(uint64_t std);
    HRESULT GetStandard(uint64_t* std);
    // The standard this session set, if any.
    std::optional<uint64_t> ChosenStandard() const;
    // What the decoder detects on its input (VIDIOC_QUERYSTD): S_FALSE with
    // 0 when nothing (no signal, or the driver cannot tell).
    HRESULT DetectStandard(uint64_t* std);
    // The status bits of the current input (V4L2_IN_ST_*).
    HRESULT InputStatus(uint32_t* status);
    // On a node a stream just opened: the session's choices, in the order
    // the driver needs them (input, audio, standard). Failures are left to
    // the format that follows.
    void ApplyChoices(int fd);

    // The node the device has now (a device that came back may have
    // another).
    void SetPath(const std::string& path);
    std::string Path() const;

private:
    // One call on a node opened for it: S_OK, or the errno of the open or
    // of the call.
    HRESULT Ask(unsigned long request, void* arg);
    // Opens the node for control calls; -1 with errno when it cannot.
    int OpenControl() const;

    const std::shared_ptr<V4l2System> m_system;
    mutable std::mutex m_lock;
    // Guarded by m_lock.
    std::string m_path;
    double m_quality;
    std::optional<V4l2AnalogSide> m_analog;
    std::optional<int> m_input;
    std::optional<int> m_audio_input;
    std::optional<uint64_t> m_std;
};

}  // namespace ronvix::media
