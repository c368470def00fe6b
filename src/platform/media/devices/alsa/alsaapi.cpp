// The ALSA call tables over the real library, and the card listing that
// both the capture and the playback backends use. See alsaapi.h.

#include "platform/media/devices/alsa/alsaapi.h"

#include <alsa/asoundlib.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

namespace ronvix::media {

namespace {

// ALSA reports its own failures on standard error; ours are results.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void QuietAlsa() {
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(&QuietAlsaErrors); });
}

snd_pcm_format_t AlsaFormat(int bits) {
    switch (bits) {
        case 8:
            return SND_PCM_FORMAT_U8;
        case 16:
            return SND_PCM_FORMAT_S16_LE;
        case 24:
            return SND_PCM_FORMAT_S24_3LE;
        case 32:
            return SND_PCM_FORMAT_S32_LE;
        default:
            return SND_PCM_FORMAT_UNKNOWN;
    }
}

snd_pcm_t* Pcm(void* handle) {
    return static_cast<snd_pcm_t*>(handle);
}
snd_mixer_elem_t* Element(void* element) {
    return static_cast<snd_mixer_elem_t*>(element);
}

// A PCM opened to find out what it can do, with its whole configuration
// space.
struct Probe {
    snd_pcm_t* pcm = nullptr;
    snd_pcm_hw_params_t* any = nullptr;
    ~Probe() {
        if (any)
            snd_pcm_hw_params_free(any);
        if (pcm)
            snd_pcm_close(pcm);
    }
};

// Opens a capture PCM with the card's own format (no resampling: the
// stream's sample clock is the card's, which the timestamps follow). The
// buffer holds half a second, so a consumer that stalls that long loses
// nothing; the card wakes the reader every 20 ms.
int OpenCapture(const std::string& name, int bits, int channels, int rate, void** handle) {
    QuietAlsa();
    *handle = nullptr;
    const snd_pcm_format_t format = AlsaFormat(bits);
    if (format == SND_PCM_FORMAT_UNKNOWN || channels < 1 || rate < 1)
        return -EINVAL;
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err < 0)
        return err;
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned buffer_us = 500'000, period_us = 20'000;
    int dir = 0;
    if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0 ||
        (err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 0)) < 0 ||
        (err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (err = snd_pcm_hw_params_set_format(pcm, hw, format)) < 0 ||
        (err = snd_pcm_hw_params_set_channels(pcm, hw, unsigned(channels))) < 0 ||
        (err = snd_pcm_hw_params_set_rate(pcm, hw, unsigned(rate), 0)) < 0 ||
        (err = snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_us, &dir)) < 0 ||
        (err = snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_us, &dir)) < 0 ||
        (err = snd_pcm_hw_params(pcm, hw)) < 0) {
        snd_pcm_close(pcm);
        return err;
    }
    *handle = pcm;
    return 0;
}

}  // namespace

std::vector<AlsaCard> ListAlsaCards(const AlsaCardApi& api) {
    std::vector<AlsaCard> cards;
    if (!api.next_card)
        return cards;
    int number = -1;
    // A bound on the walk, so a card table that never ends cannot hang the
    // enumeration (ALSA has at most 32 cards).
    for (int guard = 0; guard < 256; ++guard) {
        if (api.next_card(&number) < 0 || number < 0)
            break;
        void* ctl = nullptr;
        if (api.open_control(number, &ctl) < 0 || !ctl)
            continue;
        AlsaCard card;
        card.number = number;
        if (api.card_info(ctl, &card.id, &card.name) == 0 && !card.id.empty()) {
            int device = -1;
            for (int devices = 0; devices < 256; ++devices) {
                if (api.next_pcm_device(ctl, &device) < 0 || device < 0)
                    break;
                std::string pcm;
                if (api.pcm_info(ctl, device, true, &pcm) == 0) {
                    card.captures.push_back({device, pcm});
                    if (card.capture_device < 0)
                        card.capture_device = device;
                }
                if (card.playback_device < 0 && api.pcm_info(ctl, device, false, nullptr) == 0)
                    card.playback_device = device;
            }
            if (card.name.empty())
                card.name = card.id;
            cards.push_back(std::move(card));
        }
        api.close_control(ctl);
    }
    return cards;
}

std::string AlsaPcmName(const char* plugin, const AlsaCard& card, int device) {
    return std::string(plugin) + ":CARD=" + card.id + ",DEV=" + std::to_string(device);
}

int OpenRealAlsaPlayback(const std::string& name, int bits, int channels, int rate,
                         unsigned latency_us, void** handle) {
    QuietAlsa();
    *handle = nullptr;
    const snd_pcm_format_t format = AlsaFormat(bits);
    if (format == SND_PCM_FORMAT_UNKNOWN || channels < 1 || rate < 1)
        return -EINVAL;
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0)
        return err;
    // Resampling allowed: the output takes whatever rate the stream has.
    err = snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(channels),
                             unsigned(rate), 1, latency_us);
    // Playing starts with the first frame written, not once the buffer is
    // full: the renderer writes each sample ahead by the device's delay, so
    // the first one must not wait for a buffer's worth behind it.
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if (err >= 0)
        err = snd_pcm_sw_params_current(pcm, sw);
    if (err >= 0)
        err = snd_pcm_sw_params_set_start_threshold(pcm, sw, 1);
    if (err >= 0)
        err = snd_pcm_sw_params(pcm, sw);
    if (err < 0) {
        snd_pcm_close(pcm);
        return err;
    }
    *handle = pcm;
    return 0;
}

AlsaCardApi RealAlsaCardApi() {
    QuietAlsa();
    AlsaCardApi api;
    api.next_card = [](int* card) { return snd_card_next(card); };
    api.open_control = [](int card, void** ctl) {
        *ctl = nullptr;
        snd_ctl_t* handle = nullptr;
        const int err = snd_ctl_open(&handle, ("hw:" + std::to_string(card)).c_str(), 0);
        if (err < 0)
            return err;
        *ctl = handle;
        return 0;
    };
    api.card_info = [](void* ctl, std::string* id, std::string* name) {
        snd_ctl_card_info_t* info = nullptr;
        snd_ctl_card_info_alloca(&info);
        const int err = snd_ctl_card_info(static_cast<snd_ctl_t*>(ctl), info);
        if (err < 0)
            return err;
        *id = snd_ctl_card_info_get_id(info);
        *name = snd_ctl_card_info_get_name(info);
        return 0;
    };
    api.next_pcm_device = [](void* ctl, int* device) {
        return snd_ctl_pcm_next_device(static_cast<snd_ctl_t*>(ctl), device);
    };
    api.pcm_info = [](void* ctl, int device, bool capture, std::string* name) {
        snd_pcm_info_t* info = nullptr;
        snd_pcm_info_alloca(&info);
        snd_pcm_info_set_device(info, unsigned(device));
        snd_pcm_info_set_subdevice(info, 0);
        snd_pcm_info_set_stream(info, capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK);
        const int err = snd_ctl_pcm_info(static_cast<snd_ctl_t*>(ctl), info);
        if (err == 0 && name)
            *name = snd_pcm_info_get_name(info);
        return err;
    };
    api.close_control = [](void* ctl) { snd_ctl_close(static_cast<snd_ctl_t*>(ctl)); };
    return api;
}

AlsaCaptureApi RealAlsaCaptureApi() {
    QuietAlsa();
    AlsaCaptureApi api;
    api.cards = RealAlsaCardApi();

    api.open_probe = [](const std::string& name, void** out) {
        *out = nullptr;
        auto probe = std::make_unique<Probe>();
        int err = snd_pcm_open(&probe->pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
        if (err < 0) {
            probe->pcm = nullptr;
            return err;
        }
        if ((err = snd_pcm_hw_params_malloc(&probe->any)) < 0 ||
            (err = snd_pcm_hw_params_any(probe->pcm, probe->any)) < 0)
            return err;
        *out = probe.release();
        return 0;
    };
    api.test_format = [](void* handle, int bits, int channels, int rate) {
        auto* probe = static_cast<Probe*>(handle);
        const snd_pcm_format_t format = AlsaFormat(bits);
        if (format == SND_PCM_FORMAT_UNKNOWN)
            return -EINVAL;
        snd_pcm_hw_params_t* params = nullptr;
        snd_pcm_hw_params_alloca(&params);
        snd_pcm_hw_params_copy(params, probe->any);
        int err = snd_pcm_hw_params_set_access(probe->pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED);
        if (err == 0)
            err = snd_pcm_hw_params_set_format(probe->pcm, params, format);
        if (err == 0)
            err = snd_pcm_hw_params_set_channels(probe->pcm, params, unsigned(channels));
        if (err == 0)
            err = snd_pcm_hw_params_test_rate(probe->pcm, params, unsigned(rate), 0);
        return err;
    };
    api.close_probe = [](void* handle) { delete static_cast<Probe*>(handle); };

    api.open = OpenCapture;
    api.start = [](void* handle) {
        // A stream that a resume left running needs no start.
        if (snd_pcm_state(Pcm(handle)) == SND_PCM_STATE_RUNNING)
            return 0;
        return snd_pcm_start(Pcm(handle));
    };
    api.wait = [](void* handle, int timeout_ms) { return snd_pcm_wait(Pcm(handle), timeout_ms); };
    api.avail = [](void* handle) -> long { return snd_pcm_avail(Pcm(handle)); };
    api.delay = [](void* handle, long* frames) {
        snd_pcm_sframes_t d = 0;
        const int err = snd_pcm_delay(Pcm(handle), &d);
        *frames = long(d);
        return err;
    };
    api.read = [](void* handle, uint8_t* data, long frames) -> long {
        return snd_pcm_readi(Pcm(handle), data, snd_pcm_uframes_t(frames));
    };
    api.recover = [](void* handle, int error) { return snd_pcm_recover(Pcm(handle), error, 1); };
    api.close = [](void* handle) {
        snd_pcm_drop(Pcm(handle));
        snd_pcm_close(Pcm(handle));
    };

    api.open_mixer = [](const std::string& control, void** out) {
        *out = nullptr;
        snd_mixer_t* mixer = nullptr;
        int err = snd_mixer_open(&mixer, 0);
        if (err < 0)
            return err;
        if ((err = snd_mixer_attach(mixer, control.c_str())) < 0 ||
            (err = snd_mixer_selem_register(mixer, nullptr, nullptr)) < 0 ||
            (err = snd_mixer_load(mixer)) < 0) {
            snd_mixer_close(mixer);
            return err;
        }
        *out = mixer;
        return 0;
    };
    api.elements = [](void* mixer) {
        std::vector<void*> list;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(static_cast<snd_mixer_t*>(mixer)); e;
             e = snd_mixer_elem_next(e))
            list.push_back(e);
        return list;
    };
    api.element_info = [](void* element, AlsaMixerElement* info) {
        snd_mixer_elem_t* e = Element(element);
        *info = {};
        info->name = snd_mixer_selem_get_name(e);
        info->index = snd_mixer_selem_get_index(e);
        info->capture_volume = snd_mixer_selem_has_capture_volume(e) != 0;
        info->capture_switch = snd_mixer_selem_has_capture_switch(e) != 0;
        if (info->capture_volume)
            snd_mixer_selem_get_capture_volume_range(e, &info->volume_min, &info->volume_max);
        if (snd_mixer_selem_is_enumerated(e) && snd_mixer_selem_is_enum_capture(e)) {
            const int count = snd_mixer_selem_get_enum_items(e);
            for (int i = 0; i < count; ++i) {
                char name[64] = {};
                if (snd_mixer_selem_get_enum_item_name(e, unsigned(i), sizeof name - 1, name) < 0)
                    break;
                info->items.emplace_back(name);
            }
            info->capture_source = !info->items.empty();
        }
        return 0;
    };
    api.update = [](void* mixer) {
        return snd_mixer_handle_events(static_cast<snd_mixer_t*>(mixer));
    };
    api.get_volume = [](void* element, long* value) {
        return snd_mixer_selem_get_capture_volume(Element(element), SND_MIXER_SCHN_FRONT_LEFT,
                                                  value);
    };
    api.set_volume = [](void* element, long value) {
        return snd_mixer_selem_set_capture_volume_all(Element(element), value);
    };
    api.get_switch = [](void* element, bool* on) {
        int value = 0;
        const int err =
            snd_mixer_selem_get_capture_switch(Element(element), SND_MIXER_SCHN_FRONT_LEFT, &value);
        *on = value != 0;
        return err;
    };
    api.set_switch = [](void* element, bool on) {
        return snd_mixer_selem_set_capture_switch_all(Element(element), on ? 1 : 0);
    };
    api.get_item = [](void* element, unsigned* item) {
        return snd_mixer_selem_get_enum_item(Element(element), SND_MIXER_SCHN_MONO, item);
    };
    api.set_item = [](void* element, unsigned item) {
        // Every channel of the enumeration the element has.
        int err = snd_mixer_selem_set_enum_item(Element(element), SND_MIXER_SCHN_MONO, item);
        for (int ch = 1; err == 0 && ch <= SND_MIXER_SCHN_LAST; ++ch)
            if (snd_mixer_selem_set_enum_item(Element(element), snd_mixer_selem_channel_id_t(ch),
                                              item) < 0)
                break;
        return err;
    };
    api.close_mixer = [](void* mixer) { snd_mixer_close(static_cast<snd_mixer_t*>(mixer)); };
    api.holder = [](int card, int device) {
        return AlsaDeviceHolders("/dev/snd/pcmC" + std::to_string(card) + "D" +
                                 std::to_string(device) + "c");
    };
    return api;
}

std::string AlsaDeviceHolders(const std::string& node) {
    std::string holders;
    std::error_code ec;
    const std::string self = std::to_string(::getpid());
    for (const auto& process : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string pid = process.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        std::error_code fd_ec;
        for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fd_ec)) {
            std::error_code link_ec;
            if (std::filesystem::read_symlink(fd.path(), link_ec).string() != node || link_ec)
                continue;
            std::string name;
            std::ifstream comm(process.path() / "comm");
            std::getline(comm, name);
            if (!holders.empty())
                holders += ", ";
            holders += (name.empty() ? std::string("a program") : name) + " (process " + pid + ")";
            break;
        }
    }
    return holders;
}

}  // namespace ronvix::media
