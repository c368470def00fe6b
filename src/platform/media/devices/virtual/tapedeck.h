#pragma once
// The Virtual Tape Deck: a video output device of the transmit category
// that records what it is sent.
//
// What a caller may rely on:
// - Pins: input "Video In" (MJPG video with a VideoInfo block, pictures up
//   to kMaxPictureSide on each side) and output "Monitor Out", the deck's
//   own fixed video output: RGB32 720x576 at 25 fps, offered before the
//   input is connected.
// - Like a real deck it presents at sample time: a frame is taken when the
//   graph's clock reaches its start time (at once when late or untimed);
//   a paused deck holds the frame until the graph runs. Every wait ends
//   when the input is flushed or stopped.
// - Each run (from leaving Stopped to Stop; a pause does not start a new
//   one) is recorded to a new AVI file in the tape folder: every frame
//   received, bit for bit, in the order received and laid down back to
//   back at the input's frame rate (25 fps without one), so frames that
//   followed a seek continue the same recording. The file is finished when
//   the deck stops. The tape folder is $RONVIX_TAPE_DIR, else the "Tape"
//   folder of the mapped C: drive; it is created when needed. A deck that
//   cannot create its file refuses to leave Stopped with the file error; a
//   write that fails later raises EC_ERRORABORT in the deck's graph. A run
//   that received no frame (its graph failed to start, or stopped first)
//   leaves no file.
// - Each received frame is decoded, scaled to 720x576 and delivered on
//   "Monitor Out" with its times; a frame that does not decode is recorded
//   but not shown. Flushes, new segments and end of stream on "Video In"
//   pass to "Monitor Out".
// - With "Monitor Out" unconnected the deck is the end of the stream: it
//   counts as a renderer (AM_FILTER_MISC_FLAGS_IS_RENDERER) and raises
//   EC_COMPLETE once its input ended while running, so a play-out with no
//   monitor completes.
// - Its recorder's buffers hold the largest frame the input's type names
//   (biSizeImage, which a file's splitter sets from what the file holds),
//   else the JPEG encoder's bound for the picture.

#include "platform/com/classregistry.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

inline constexpr GUID CLSID_VirtualTapeDeck = RONVIX_GUID("{A4279681-E229-49C4-9C24-0410B6B4507D}");
inline constexpr char kTapeDeckName[] = "Virtual Tape Deck";

// Engine extension on the deck: where it records. Any thread.
struct ITapeDeck : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{3C8E0A55-6D1B-4F27-A0E4-91B7C2D4E6F8}");
    using base = IUnknown;
    // The folder recordings go to now (task allocator string, UTF-16).
    virtual HRESULT GetTapeFolder(LPWSTR* folder) = 0;
    // The last recording in the tape folder: the file of the current run
    // from its first frame on, else that of the last run that recorded a
    // frame there, by any deck of this process (a deck made afresh after a
    // play-out still names it); S_FALSE and null before any.
    virtual HRESULT GetLastRecording(LPWSTR* file) = 0;

protected:
    ~ITapeDeck() = default;
};

HRESULT CreateTapeDeck(REFIID riid, void** out);

// Adds the deck to the transmit category of the device registry and its
// class to the class registry (never inserted by graph building).
// Idempotent and thread-safe.
void RegisterTapeDeck();

}  // namespace ronvix::media
