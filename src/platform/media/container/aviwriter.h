#pragma once
// The capture file's container: AVI with the OpenDML extensions, written so
// that the file on the disk is a valid AVI at every moment, up to the last
// checkpoint.
//
// What a caller may rely on:
// - The layout is the usual one: RIFF 'AVI ' with the header list (main
//   header, a stream list per stream with its OpenDML super index, the
//   OpenDML extended header) and the 'movi' list of chunks; past the RIFF
//   limit (1 GiB) the file continues in RIFF 'AVIX' lists. Video chunks
//   "NNdc" ("NNdb" for uncompressed pictures), one per place (an empty one
//   for a place without a picture: the frame before shows again), audio
//   chunks "NNwb".
// - Indexes: each stream's chunks are listed in OpenDML standard index
//   chunks ("ixNN") inside 'movi', reserved ahead at the end of the data
//   (room for 4096 entries each) and filled in at each checkpoint, each one
//   named by an entry of the stream's super index ('indx') in the header.
//   The legacy index ('idx1') of the first RIFF is written when that RIFF
//   closes (at the limit or at Finish); until then readers use the OpenDML
//   indexes, as every current one does.
// - Checkpoint: every byte written so far is made durable (the sink's
//   barrier), then the indexes, the sizes of the current RIFF and its
//   'movi' list and the frame counts are patched to cover it. Between
//   checkpoints, new chunks lie past the sizes the header declares, so a
//   reader sees the file as it was at the last checkpoint. A crash loses
//   what came after it.
// - Finish: a last checkpoint, the legacy index when the file has one RIFF
//   (or its first is still open), the final counts, a barrier. The header
//   is patched even after a failed chunk write: that needs no new space.
// - Rates: a video stream's rate may change until its first chunk (the
//   header is patched).
//
// - Cutting: a writer whose sink refused to grow the file can end it at
//   its latest checkpoint that lies wholly within what the sink took
//   (`EndAt`), preferring one where the sound reaches at least as far as
//   the picture, so the rest can go to a next file without a gap in the
//   sound. The indexes and counts are put back to that checkpoint, and the
//   legacy index follows it when the bytes after it can hold one.
//
// Errors: the first failure of the sink is returned by every later call
// (the patches of Finish are still attempted). Not thread-safe: one user.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "platform/media/core/types.h"

namespace ronvix::media {

// Where the container's bytes go.
class AviSink {
public:
    virtual ~AviSink() = default;
    // Writes the parts, one after another, at byte `offset` of the file.
    virtual HRESULT WriteAt(uint64_t offset, std::span<const std::span<const uint8_t>> parts) = 0;
    // Everything written before is durable before anything written after.
    virtual HRESULT Barrier() = 0;
};

// The display properties of a video stream ('vprp'): interlacing and the
// shape of the picture.
struct AviVideoProperties {
    bool interlaced = false;
    bool top_first = true;  // Of interlaced pictures: the top field is the earlier.
    uint16_t aspect_x = 0;  // Display aspect, e.g. 4:3; 0: square pixels.
    uint16_t aspect_y = 0;
    uint32_t refresh_hz = 0;  // Fields a second for interlaced video, else frames.
};

struct AviVideoFormat {
    std::vector<uint8_t> strf;  // BITMAPINFOHEADER and what follows it.
    uint32_t handler = 0;       // Four-character code of the codec.
    bool compressed = true;     // "dc" chunks; uncompressed pictures are "db".
    int32_t width = 0;
    int32_t height = 0;
    int64_t rate_num = 25, rate_den = 1;
    std::optional<AviVideoProperties> properties;
};

struct AviAudioFormat {
    std::vector<uint8_t> strf;  // WAVEFORMATEX and what follows it.
    uint16_t block_align = 1;
    uint32_t bytes_per_second = 0;
    uint32_t sample_rate = 0;
};

class AviFileWriter {
public:
    struct Options {
        uint64_t riff_limit = 1ull << 30;      // A RIFF closes before it passes this.
        uint32_t index_capacity = 4096;        // Entries of each reserved standard index.
        uint32_t super_index_capacity = 2048;  // Standard indexes per stream.
    };

    explicit AviFileWriter(AviSink& sink);
    AviFileWriter(AviSink& sink, Options options);

    // Before Begin. Returns the stream's number (its chunk id "NN").
    int AddVideo(AviVideoFormat format);
    int AddAudio(AviAudioFormat format);

    // Writes the header and opens the first 'movi' list.
    HRESULT Begin();
    // A video stream's rate, before its first chunk.
    HRESULT SetVideoRate(int stream, int64_t rate_num, int64_t rate_den);
    // A video stream's display properties, before its first chunk.
    HRESULT SetVideoProperties(int stream, const AviVideoProperties& properties);
    // Appends one chunk of `stream`: a picture (size 0: an empty place) or
    // sound. `key`: a picture that decodes on its own.
    HRESULT Write(int stream, std::span<const uint8_t> data, bool key = true);
    HRESULT Checkpoint();
    HRESULT Finish();

    // Where a file ends when it is cut: its length and, for each stream,
    // what it holds (video: places; sound: sample frames).
    struct Cut {
        uint64_t length = 0;
        std::vector<int64_t> positions;
    };
    // Ends the file at a checkpoint below `durable_end` (see Cutting); no
    // write is accepted afterwards. A file whose header is not wholly below
    // it holds nothing: every position 0.
    Cut EndAt(uint64_t durable_end);
    // Forgets checkpoints a cut below `durable_end` can no longer choose;
    // returns the offset from which the chunks a cut may need begin (the
    // end of the earliest checkpoint kept).
    uint64_t ReleaseCheckpoints(uint64_t durable_end);
    // A writer for a next file with the same streams (rates and display
    // properties as they are now), not begun.
    std::unique_ptr<AviFileWriter> Successor(AviSink& sink) const;

    // Where the last chunk written starts (its header).
    uint64_t LastChunkOffset() const { return m_last_chunk; }
    // What `stream` holds so far: video places or sound sample frames.
    int64_t Position(int stream) const;
    // Whether every sound stream reaches as far as the first picture
    // stream: a checkpoint made now is a good place for a cut.
    bool SoundCoversPicture() const;
    // The stream's rate in units a second: num/den.
    std::pair<int64_t, int64_t> UnitRate(int stream) const;

    // The end of the file: every byte written so far.
    uint64_t Size() const { return m_end; }
    // Chunks of `stream` so far (video: places).
    int64_t Chunks(int stream) const;
    // Whether something was written since the last checkpoint.
    bool Dirty() const { return m_dirty; }

private:
    struct Entry {
        uint64_t offset;  // Of the chunk's data.
        uint32_t size;
        bool key;
    };
    struct Stream {
        bool video = false;
        AviVideoFormat video_format;
        AviAudioFormat audio_format;
        uint32_t chunk_id = 0;  // "NNdc", "NNwb"
        uint32_t index_id = 0;  // "ixNN"
        // Header places.
        uint64_t strh = 0;  // Offset of the strh chunk's data.
        uint64_t indx = 0;  // Offset of the indx chunk's data.
        uint64_t vprp = 0;  // Offset of the video properties' place.
        // Counts.
        int64_t chunks = 0;
        int64_t first_riff_chunks = 0;
        uint64_t bytes = 0;
        uint32_t largest = 0;
        // The standard index being filled: its chunk's offset, its base,
        // the entries written to it and those still to write.
        std::optional<uint64_t> ix;
        std::optional<uint32_t> ix_slot;  // Its entry in the super index.
        uint64_t ix_base = 0;
        uint32_t ix_written = 0;
        std::vector<Entry> pending;
        int64_t ix_duration = 0;     // Stream ticks its entries span.
        uint32_t super_entries = 0;  // In use, written to the header.
    };
    struct OldEntry {
        uint32_t id;
        uint32_t flags;
        uint32_t offset;  // From the 'movi' fourcc.
        uint32_t size;
    };
    // What a checkpoint made the header say.
    struct Snapshot {
        struct Counts {
            int64_t chunks = 0;
            int64_t first_riff_chunks = 0;
            uint64_t bytes = 0;
            uint32_t largest = 0;
        };
        // A stream's index state: its standard index being filled and the
        // super index's entries in use.
        struct IndexState {
            std::optional<uint64_t> ix;
            std::optional<uint32_t> ix_slot;
            uint32_t ix_written = 0;
            int64_t ix_duration = 0;
            uint32_t super_entries = 0;
        };
        uint64_t end = 0;
        uint64_t riff = 0;
        uint64_t movi = 0;
        bool old_index = false;
        size_t old_entries = 0;  // Of the first RIFF's legacy index.
        bool sound_covers_picture = true;
        std::vector<Counts> counts;
        std::vector<IndexState> indexes;
    };

    HRESULT Put(uint64_t offset, std::span<const uint8_t> bytes);
    HRESULT Put(uint64_t offset, std::span<const std::span<const uint8_t>> parts);
    HRESULT PutU32(uint64_t offset, uint32_t value);
    // Reserves a standard index for `s` at the end of the data.
    HRESULT Reserve(Stream& s);
    // Writes `s`'s pending entries into its standard index and that index's
    // super index entry.
    HRESULT FlushIndex(Stream& s);
    // `riff_end`: where the current RIFF ends when something follows its
    // 'movi' list (a legacy index); 0: at the snapshot's end.
    HRESULT PatchCounts(const Snapshot& at, uint64_t riff_end = 0);
    // The indexes back to what `at` described.
    HRESULT PatchIndexes(const Snapshot& at);
    Snapshot Take() const;
    // Closes the current RIFF and opens an 'AVIX' one.
    HRESULT NextRiff();
    HRESULT WriteOldIndex();
    int64_t Ticks(const Stream& s, uint32_t size) const;

    AviSink& m_sink;
    const Options m_options;
    std::vector<Stream> m_streams;
    HRESULT m_error = com::S_OK;
    bool m_begun = false;
    bool m_finished = false;
    bool m_dirty = false;
    uint64_t m_end = 0;
    // Header places.
    uint64_t m_avih = 0;  // Offset of the avih chunk's data.
    uint64_t m_dmlh = 0;  // Offset of the dmlh chunk's data.
    // The current RIFF and its 'movi' list.
    uint64_t m_riff = 0;
    uint64_t m_movi = 0;  // Offset of the 'LIST' of 'movi'.
    int m_riffs = 0;
    bool m_old_index_written = false;
    std::vector<OldEntry> m_old_index;     // Chunks of the first RIFF.
    std::optional<Snapshot> m_checkpoint;  // The last one made.
    std::deque<Snapshot> m_checkpoints;    // Those a cut may still choose.
    uint64_t m_last_chunk = 0;
};

}  // namespace ronvix::media
