#pragma once
// The ALSA calls the sound card backends make, as tables of functions, so
// that tests can stand in for cards, PCMs and mixers (and mix fakes with the
// real library: real PCM calls over a test configuration, fake cards).
//
// Every call returns 0 (or a count) or a negative errno value, as ALSA does.
// Handles are opaque to the callers. A table is copied into each object that
// uses it, so replacing the process-wide table never changes a stream that
// is open. The real tables are thread-safe in the way ALSA is: one handle is
// used by one thread at a time.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ronvix::media {

// Cards and their PCM devices (snd_card_next, snd_ctl_*).
struct AlsaCardApi {
    // The number of the card after `*card` (-1 asks for the first); -1 when
    // there is none.
    std::function<int(int* card)> next_card;
    // Opens the control interface of card `card`.
    std::function<int(int card, void** ctl)> open_control;
    // The card's id (unique on the machine, kept across boots and replugs)
    // and its name as the driver reports it.
    std::function<int(void* ctl, std::string* id, std::string* name)> card_info;
    // The PCM device after `*device` (-1 asks for the first); -1 when none.
    std::function<int(void* ctl, int* device)> next_pcm_device;
    // 0 when `device` has a stream in that direction; its name (the
    // driver's, "USB Audio", "ALC892 Alt Analog") in `*name` when given.
    std::function<int(void* ctl, int device, bool capture, std::string* name)> pcm_info;
    std::function<void(void* ctl)> close_control;
};

// A card as the backends list it: its first capture and its first playback
// PCM device (-1 when it has none), and every capture device with its name.
struct AlsaCard {
    struct Pcm {
        int device = -1;
        std::string name;
    };
    int number = -1;
    std::string id;
    std::string name;
    int capture_device = -1;
    int playback_device = -1;
    std::vector<Pcm> captures;
};

// The cards present now, by card number. A card whose control interface
// does not open, or which vanishes while it is read, is left out. An empty
// `api.next_card` lists no cards.
std::vector<AlsaCard> ListAlsaCards(const AlsaCardApi& api);

// The PCM name of a card's device: "<plugin>:CARD=<id>,DEV=<device>".
std::string AlsaPcmName(const char* plugin, const AlsaCard& card, int device);

// A simple mixer element as the capture side sees it.
struct AlsaMixerElement {
    std::string name;
    unsigned index = 0;
    bool capture_volume = false;
    bool capture_switch = false;
    // An enumeration that chooses the card's capture source; its items.
    bool capture_source = false;
    std::vector<std::string> items;
    long volume_min = 0;
    long volume_max = 0;
};

// A card's capture PCM and its mixer.
struct AlsaCaptureApi {
    AlsaCardApi cards;

    // Format probing: open `pcm` without starting it, test combinations,
    // close. test_format gives 0 when the device captures 8/16/24/32-bit
    // integer PCM (U8, S16_LE, S24_3LE, S32_LE) with that channel count and
    // rate, all three together.
    std::function<int(const std::string& pcm, void** probe)> open_probe;
    std::function<int(void* probe, int bits, int channels, int rate)> test_format;
    std::function<void(void* probe)> close_probe;

    // Capture: open `pcm` non-blocking, interleaved, with the format.
    std::function<int(const std::string& pcm, int bits, int channels, int rate, void** handle)>
        open;
    std::function<int(void* handle)> start;
    // Waits up to `timeout_ms` for data: > 0 ready, 0 time-out, < 0 error.
    std::function<int(void* handle, int timeout_ms)> wait;
    // Frames ready to read, or an error (-EPIPE after an overrun).
    std::function<long(void* handle)> avail;
    // The frames between the converter and the next read: those ready plus
    // those still on their way through the device (a USB FIFO, a DSP), so
    // the next frame read entered the device this many frames ago. < 0 on
    // an error; may be left empty (then only the ready ones are known).
    std::function<int(void* handle, long* frames)> delay;
    // Reads up to `frames` frames; the number read, or an error (-EAGAIN
    // when none is ready).
    std::function<long(void* handle, uint8_t* data, long frames)> read;
    // Recovers from an overrun or a suspend (the stream is prepared again
    // and must be started); < 0 when it cannot.
    std::function<int(void* handle, int error)> recover;
    std::function<void(void* handle)> close;

    // The mixer of a card, by control name ("hw:CARD=<id>").
    std::function<int(const std::string& control, void** mixer)> open_mixer;
    // Its simple elements, in the mixer's order.
    std::function<std::vector<void*>(void* mixer)> elements;
    std::function<int(void* element, AlsaMixerElement* info)> element_info;
    // Takes in changes made elsewhere (another program's mixer).
    std::function<int(void* mixer)> update;
    // Capture volume and switch: read from the first channel, written to
    // all of them.
    std::function<int(void* element, long* value)> get_volume;
    std::function<int(void* element, long value)> set_volume;
    std::function<int(void* element, bool* on)> get_switch;
    std::function<int(void* element, bool on)> set_switch;
    // The selected item of a capture source enumeration.
    std::function<int(void* element, unsigned* item)> get_item;
    std::function<int(void* element, unsigned item)> set_item;
    std::function<void(void* mixer)> close_mixer;

    // What holds capture device `device` of card `card` open, when another
    // program does: "pulseaudio (process 812)"; empty when it cannot tell.
    std::function<std::string(int card, int device)> holder;
};

// The programs that have a sound device node (/dev/snd/...) open, from
// the open descriptors /proc shows: "name (process pid)" each, joined by
// ", "; empty when none is seen (or /proc hides them).
std::string AlsaDeviceHolders(const std::string& node);

// The real library. Each keeps ALSA's own error printing quiet: failures
// are reported as results.
AlsaCardApi RealAlsaCardApi();
AlsaCaptureApi RealAlsaCaptureApi();

// Opens a playback PCM of the real library non-blocking with interleaved
// access, the format and about `latency_us` of buffer, for the real
// playback table.
int OpenRealAlsaPlayback(const std::string& name, int bits, int channels, int rate,
                         unsigned latency_us, void** handle);

}  // namespace ronvix::media
