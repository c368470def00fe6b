#pragma once
// The desktop's sound server (PulseAudio, or PipeWire through
// pipewire-pulse) as the audio devices, when one runs: it owns the sound
// cards then, so they are reached through it, not through ALSA.
//
// What a caller may rely on:
// - When a server answers, the audio input category lists its sources by
//   their descriptions, the inputs (microphones, line inputs, a capture
//   card's sound) sorted by name, then the monitors of its outputs; the
//   audio renderer category lists its sinks after the ALSA default device
//   (alsacapture.h, audiooutput.h). Without a server both list the ALSA
//   cards instead. A moniker names the server's device name
//   ("@device:pnp:pulse:<name>\{category}"), which the server keeps across
//   runs, so a stored moniker binds to the same device.
// - A source's filter is a LiveAudioSource (livesource.h): the "Capture"
//   pin offers 16-bit PCM at the source's own rate and channels first, then
//   the usual rates in stereo and mono (the server converts); the input
//   pins are the source's ports ("Microphone", "Line In"), exclusive:
//   enabling one makes it the active port and unmutes the source; a source
//   without ports has one line, "Master Capture". Every line's level is the
//   source's volume.
// - The stream opens when the graph leaves Stopped (that state change fails
//   with the server's error when it cannot open) and starts when the graph
//   first runs; a paused graph's samples are read and let go. Samples are
//   stamped by AudioStamps from the server's timing of the stream (the
//   frames the source had captured, read or not, at the time of the
//   timing), so the stamps follow the sound card's clock; sound the server
//   could not hand over (the count falls behind the clock) is lost: the
//   positions skip it and the next sample is a discontinuity. Reads wait in
//   steps of at most 50 ms that check the stop.
// - When a stopping graph ends the capture (ILiveCaptureEnd), what the
//   server holds for the stream is read and delivered first.
// - A source that vanishes, or a server that goes, ends the stream (end of
//   stream downstream) and raises EC_DEVICE_LOST once (param1 the filter's
//   IUnknown, param2 0); another error ends it with EC_ERRORABORT.

#include <optional>

#include "platform/com/classregistry.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/devices/pulse/pulseapi.h"

namespace ronvix::media {

// The class of every server source's capture filter (made by moniker).
inline constexpr GUID CLSID_PulseCapture = RONVIX_GUID("{2B8E5C14-9F37-4D61-A0C2-7E43B1D8F965}");

// Replaces the server calls of the devices listed and made from now on
// (tests); an empty `api.list` restores the real library. Thread-safe.
void SetPulseApi(PulseApi api);
// The calls in use now.
PulseApi CurrentPulseApi();

// The server's devices now, or nothing when no server answers. The lists
// of one moment (a window filling its device lists) share one answer: a
// listing less than a second old is reused. Thread-safe.
std::optional<PulseServer> PulseDevices();
// The next PulseDevices asks the server again: its devices changed (the
// device watch heard so). Thread-safe.
void ForgetPulseDevices();
// The sources in the order the audio input category lists them.
std::vector<PulseDevice> ListedSources(const PulseServer& server);

// A new capture filter of `source`; interface `riid` of it in `out`.
HRESULT CreatePulseCapture(const PulseDevice& source, REFIID riid, void** out);

}  // namespace ronvix::media
