#pragma once
// Sound cards as audio capture devices (audio input category).
//
// What a caller may rely on:
// - One device per card that has a capture PCM, listed before the virtual
//   devices, by card number. The friendly name is the card's name; the
//   moniker names the card id ("@device:pnp:alsa:<id>\{category}"), so two
//   cards of one name are both listed and each binds to its own.
// - The filter is a LiveAudioSource (livesource.h): the "Capture" pin
//   offers the PCM formats the card's first capture device takes (8, 16,
//   24 or 32-bit integer samples, 1 to 8 channels, the usual rates from
//   8000 to 96000 Hz; 16-bit before the others, 48000 Hz stereo first when
//   the card takes it); the input pins are the lines of the card's mixer
//   (alsamixer.h). The lines and formats belong to the card: every filter
//   instance of it shares them.
// - The device "hw:CARD=<id>,DEV=<n>" opens when the graph leaves Stopped
//   (that state change fails with the device's error when it cannot open,
//   for example while another program holds it) and closes when stopped.
//   Capture starts when the graph first runs; a paused graph's samples are
//   read and let go. The card holds half a second of samples, so a
//   consumer that stalls for less loses none. Reads wait in steps of at
//   most 50 ms that check the stop, so Stop returns promptly.
// - Samples are stamped by AudioStamps: the card's count of frames against
//   the graph's clock, fitted so that the stamps follow the card's own
//   rate. Sound the card lost (an overrun, which is recovered and the
//   stream restarted, or any stretch its count fell behind the clock) is
//   measured on that clock: the sample positions (media times) skip it, the
//   next sample is marked as a discontinuity, and the buffers it amounts to
//   are counted as dropped (IAMDroppedFrames on the capture pin), as is a
//   buffer for which no output buffer was free.
// - When a stopping graph ends the capture (ILiveCaptureEnd), what the card
//   holds is read and delivered first, down to a part-filled buffer.
// - A device that vanishes (a USB card unplugged: -ENODEV, -EBADFD) ends the
//   stream (end of stream downstream) and raises EC_DEVICE_LOST once, with
//   the filter's IUnknown as param1 and 0 as param2; another error that
//   cannot be recovered ends it with EC_ERRORABORT. Stop joins either way.

#include "platform/com/classregistry.h"
#include "platform/media/devices/alsaapi.h"
#include "platform/media/interfaces.h"

namespace ronvix::media {

// The class of every sound card's capture filter (made through its moniker).
inline constexpr GUID CLSID_AlsaCapture = RONVIX_GUID("{5C2D7E90-3B14-4A6F-8E0D-91F4B2A7C358}");

// Replaces the ALSA calls of the capture devices listed and made from now
// on (tests); an empty `api.open` restores the real library. Thread-safe.
void SetAlsaCaptureApi(AlsaCaptureApi api);

// A new capture filter of `card` through the current calls; interface
// `riid` of it in `out`. MK_E_NOOBJECT when the card has no capture device.
HRESULT CreateAlsaCapture(const AlsaCard& card, REFIID riid, void** out);

// Adds the sound cards to the audio input category of the device registry
// (as a backend, so before the virtual devices). Idempotent and
// thread-safe; the sound card outputs are listed by RegisterAudioOutputs.
void RegisterAlsaDevices();

}  // namespace ronvix::media
