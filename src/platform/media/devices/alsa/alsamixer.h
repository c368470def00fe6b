#pragma once
// The input lines of a sound card, from its mixer's capture elements.
//
// Which lines a card has:
// - When the card chooses its capture source with an enumeration ("Input
//   Source", "Capture Source"), each item of it is a line, and these lines
//   are exclusive: enabling one selects it, so the others read as disabled.
//   An element named as the item gives that line its volume and switch; the
//   card's "Capture" element (the converter's gain and mute) gives its
//   volume and switch to the items without their own.
// - Every other element with a capture volume or a capture switch is a line
//   of its own ("Mic", "Line", ...; an element index above 0 is added to its
//   name, and "Capture" is called "Master Capture" so that no input pin
//   shares the capture pin's name): enable is its capture switch, the level
//   its capture volume over the element's range mapped to 0..1.
// - A line without a switch is always enabled (disabling it is not
//   implemented); one without a volume reads level 1 and takes none.
//
// Values are read from the mixer at each call (changes made by another
// program are seen) and written to every channel. Thread-safe: every call
// takes the object's lock around the mixer.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/media/devices/alsa/alsaapi.h"
#include "platform/media/devices/livesource.h"

namespace ronvix::media {

class AlsaInputLines final : public AudioInputLines {
public:
    // Opens the mixer of the card with id `card_id` and reads its capture
    // elements; a card whose mixer does not open has no lines.
    AlsaInputLines(AlsaCaptureApi api, const std::string& card_id);
    ~AlsaInputLines() override;
    AlsaInputLines(const AlsaInputLines&) = delete;
    AlsaInputLines& operator=(const AlsaInputLines&) = delete;

    size_t Count() const override;
    std::u16string Name(size_t line) const override;
    HRESULT GetEnabled(size_t line, bool* enabled) override;
    HRESULT SetEnabled(size_t line, bool enabled) override;
    HRESULT GetLevel(size_t line, double* level) override;
    HRESULT SetLevel(size_t line, double level) override;

private:
    struct Gain {
        void* element = nullptr;
        long min = 0;
        long max = 0;
    };
    struct Line {
        std::u16string name;
        // An item of the capture source enumeration, or none.
        void* source = nullptr;
        unsigned item = 0;
        // The element whose capture switch enables the line, or none.
        void* on_switch = nullptr;
        Gain gain;
    };

    const AlsaCaptureApi m_api;
    // Fixed after construction: which lines exist never changes.
    std::vector<Line> m_lines;

    mutable std::mutex m_lock;
    // Guarded by m_lock: every call on the mixer and its elements.
    void* m_mixer = nullptr;
};

}  // namespace ronvix::media
