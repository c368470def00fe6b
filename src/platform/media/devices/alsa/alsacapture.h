#pragma once
// Sound cards as audio capture devices (audio input category), when no
// sound server runs (with one, the category lists the server's sources:
// pulsecapture.h).
//
// What a caller may rely on:
// - One device per capture PCM device of each card, listed before the
//   virtual devices, by card number and device. A card's first capture
//   device is named as the card, and its moniker names the card id
//   ("@device:pnp:alsa:<id>\{category}"); another one is named
//   "<card>: <PCM name>" and its moniker adds the device
//   ("alsa:<id>,<device>"). So two cards of one name are both listed and
//   each binds to its own.
// - The filter is a LiveAudioSource (livesource.h): the "Capture" pin
//   offers the PCM formats the capture device takes (8, 16,
//   24 or 32-bit integer samples, 1 to 8 channels, the usual rates from
//   8000 to 96000 Hz; 16-bit before the others, 48000 Hz stereo first when
//   the card takes it); the input pins are the lines of the card's mixer
//   (alsamixer.h). The lines and formats belong to the card: every filter
//   instance of it shares them.
// - The device "hw:CARD=<id>,DEV=<n>" opens when the graph leaves Stopped
//   and closes when stopped. That state change fails with the device's
//   error when it cannot open; while another program holds the device the
//   error's text names that program ("... is in use by pulseaudio (process
//   812)"), and the pin offers 48000 and 44100 Hz 16-bit stereo until the
//   device's own formats can be read, so that a graph is built and its
//   start says why it cannot run.
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
#include "platform/com/devices.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/devices/alsa/alsaapi.h"

namespace ronvix::media {

// The class of every sound card's capture filter (made through its moniker).
inline constexpr GUID CLSID_AlsaCapture = RONVIX_GUID("{5C2D7E90-3B14-4A6F-8E0D-91F4B2A7C358}");

// Replaces the ALSA calls of the capture devices listed and made from now
// on (tests); an empty `api.open` restores the real library. Thread-safe.
void SetAlsaCaptureApi(AlsaCaptureApi api);

// A new capture filter of `card`'s first capture device (or of capture
// device `device`) through the current calls; interface `riid` of it in
// `out`. MK_E_NOOBJECT when there is no such device.
HRESULT CreateAlsaCapture(const AlsaCard& card, REFIID riid, void** out);
HRESULT CreateAlsaCapture(const AlsaCard& card, int device, REFIID riid, void** out);

// The audio capture devices now: the sound server's sources when one
// answers, else every capture device of the sound cards.
std::vector<com::DeviceDescription> AudioCaptureDevices();

// The numbers of the sound cards present now, through the current calls:
// a walk of the card numbers alone, cheap enough to repeat every second.
// Thread-safe.
std::vector<int> SoundCardNumbers();

// Adds the audio capture devices to the audio input category of the
// device registry (as a backend, so before the virtual devices).
// Idempotent and thread-safe; the outputs are listed by
// RegisterAudioOutputs.
void RegisterAlsaDevices();

}  // namespace ronvix::media
