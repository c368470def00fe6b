#pragma once
// Audio outputs of the audio renderer category: the ALSA default device,
// always listed first (whether or not it opens at that moment, so the list
// keeps its order), then the sound server's sinks by their descriptions
// (sorted by name) when a server answers, else one output per sound card
// with a playback PCM (by card number), and the Silent Audio Output, always
// listed last.
//
// What a caller may rely on:
// - Each is a renderer with one input pin, "Audio Input pin", taking PCM
//   (8, 16, 24 or 32 bits, 1 to 8 channels) with a WaveFormatEx block.
// - Samples are presented at their time on the graph's clock: Receive waits
//   until then (at once when late, or without a time), and a paused output
//   holds its sample until the graph runs. Every wait ends when the pin is
//   flushed or stopped. Each connected output raises EC_COMPLETE through the
//   graph once its stream ended while running.
// - The Silent Audio Output consumes what it is given and plays nothing; it
//   works on every machine, so tests and machines without a sound card use
//   it.
// - A card's output plays through "plughw:CARD=<id>,DEV=<n>" (its first
//   playback device), which converts whatever PCM the pin took to what the
//   card plays. Its moniker names the card id, so two cards of one name
//   each bind to their own.
// - A sink plays through the server, which converts whatever PCM the pin
//   took; its moniker names the sink ("pulse:<name>"). It opens when its
//   graph leaves Stopped and closes when stopped.
// - An ALSA output opens the device when its graph leaves Stopped and
//   closes it when stopped. Writes never block a stop: the streaming thread
//   waits for room in the device buffer in short steps that check the stop.
// - An output whose device or sink does not open fails that state change
//   with a code whose text (ErrorText) names the output as it is listed and
//   gives the system's reason: "The audio output "Default ALSA Device"
//   could not be opened: No such file or directory."

#include <cstdint>
#include <functional>
#include <string>

#include "platform/com/classregistry.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/devices/alsa/alsaapi.h"

namespace ronvix::media {

inline constexpr GUID CLSID_SilentAudioOutput =
    RONVIX_GUID("{12DA0FFD-8FF0-42DF-8A2F-9308655B8FD3}");
inline constexpr GUID CLSID_AlsaDefaultOutput =
    RONVIX_GUID("{6B0C5E21-47A3-4F0B-9D4E-2C51A8F3B7D2}");
// The class of every sound card's output (made through its moniker only).
inline constexpr GUID CLSID_AlsaCardOutput = RONVIX_GUID("{0E6F3A52-81C4-4D5B-A7E2-5B9D04C3F611}");
// The class of every sound server sink's output (made through its moniker).
inline constexpr GUID CLSID_PulseOutput = RONVIX_GUID("{7D3A90E6-25C1-4B8F-9E04-A6C12F58D3B7}");

inline constexpr char kSilentAudioOutputName[] = "Silent Audio Output";
inline constexpr char kAlsaDefaultOutputName[] = "Default ALSA Device";

// The ALSA calls the outputs make, so tests can stand in for sound cards.
// Each returns 0 or a negative errno value, as ALSA does. The handle is
// opaque to the output.
struct AlsaPlaybackApi {
    // The cards listed in the category (an empty `cards.next_card`: none).
    AlsaCardApi cards;
    // Opens `device` for playback with the format; `*handle` is set on success.
    std::function<int(const std::string& device, int bits, int channels, int rate, void** handle)>
        open;
    // Waits up to `timeout_ms` for room; > 0 when there is, 0 on time-out.
    std::function<int(void* handle, int timeout_ms)> wait;
    // Writes up to `frames` interleaved frames; the number written, or a
    // negative errno value (-EAGAIN when the buffer is full).
    std::function<long(void* handle, const uint8_t* data, long frames)> write;
    // Recovers from an underrun or a suspend; 0 when playing can go on.
    std::function<int(void* handle, int error)> recover;
    // The frames a frame written now waits behind before it is heard: those
    // queued and the device's own latency. < 0 on an error; may be left
    // empty (then nothing is known of the device's delay).
    std::function<int(void* handle, long* frames)> delay;
    std::function<void(void* handle)> close;
};

// The real ALSA library.
AlsaPlaybackApi RealAlsaPlaybackApi();
// Replaces the ALSA calls of outputs opened from now on (tests); an empty
// `api.open` restores the real library. Thread-safe.
void SetAlsaPlaybackApi(AlsaPlaybackApi api);

HRESULT CreateSilentAudioOutput(REFIID riid, void** out);
HRESULT CreateAlsaDefaultOutput(REFIID riid, void** out);
// An output that plays on the server's sink `sink`, known to the user as
// `name`.
HRESULT CreatePulseOutput(const std::string& sink, const std::string& name, REFIID riid,
                          void** out);
// An output that plays on `card`'s first playback device.
HRESULT CreateAlsaCardOutput(const AlsaCard& card, REFIID riid, void** out);

// Adds the audio renderer category's providers to the device registry (the
// ALSA default device, the cards, then the silent output last) and both classes to the class
// registry. Graph building inserts the silent output only when no other renderer is found, and the
// ALSA output only when its device opened when this was first called. Idempotent and thread-safe.
void RegisterAudioOutputs();

}  // namespace ronvix::media
