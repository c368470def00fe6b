#pragma once
// Reading an AVI file through libavformat: the part of the AVI Splitter that
// knows the container. It pulls bytes from a positioned reader (the File
// Source's IAsyncReader in a graph, memory in the fuzz target) and hands out
// packets with their times in 100 ns units.
//
// Contract:
// - Open fails with VFW_E_FILE_TOO_SHORT for a file too short to hold an AVI
//   header, VFW_E_UNSUPPORTED_VIDEO for a file with a video stream whose
//   picture is larger than the engine takes (kMaxPictureSide), and
//   VFW_E_INVALID_FILE_FORMAT for anything libavformat's AVI reader refuses
//   or that holds no stream we can describe. It never reads past the
//   reader's length, whatever the headers claim.
// - Sizes come from what the file can hold: each stream's largest packet
//   (max_packet_bytes) is the largest its index lists, else what its
//   headers say one frame or a quarter second takes, and never more than
//   the file's length. A compressed video type carries that size as its
//   biSizeImage, so filters downstream size their buffers from the file
//   too. Header fields that claim more than the file holds cost nothing.
// - Streams keep the file's order. Streams whose codec has no media type
//   here are listed with an empty type and their packets are skipped.
// - Next() returns packets in file order: S_OK with a packet, S_FALSE at the
//   end (a truncated or corrupt tail ends the file where reading stops).
// - One thread at a time; no locks inside.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/media/core/types.h"

struct AVFormatContext;
struct AVPacket;

namespace ronvix::media {

// A positioned byte reader. Read returns the number of bytes read (0 at the
// end) or a negative value on failure.
struct ByteReader {
    std::function<int64_t(int64_t position, uint8_t* buffer, int64_t size)> read;
    int64_t length = 0;
};

// Bounds of DemuxStream::max_packet_bytes.
inline constexpr int64_t kMinPacketBytes = 4096;
inline constexpr int64_t kMaxPacketBytes = int64_t(64) << 20;

struct DemuxStream {
    MediaType type;                     // Empty (null major type) when not described.
    REFERENCE_TIME duration = 0;        // 100 ns; 0 when unknown.
    REFERENCE_TIME time_per_frame = 0;  // Video only.
    // The largest packet the stream delivers, at least kMinPacketBytes and
    // at most kMaxPacketBytes: a packet larger than this is corrupt and is
    // left out by the splitter.
    int64_t max_packet_bytes = 0;
};

// One packet as the demuxer read it. `data` points into the packet's own
// buffer, which the packet holds until the next Next into it (or its end):
// reading hands the buffer over instead of copying it.
struct DemuxPacket {
    DemuxPacket();
    ~DemuxPacket();
    DemuxPacket(const DemuxPacket&) = delete;
    DemuxPacket& operator=(const DemuxPacket&) = delete;

    int stream = -1;
    std::span<const uint8_t> data;
    REFERENCE_TIME start = 0;  // 100 ns from the start of the file.
    REFERENCE_TIME stop = 0;
    bool sync = false;
    // Owns what `data` points at.
    ::AVPacket* holder = nullptr;
};

class AviDemuxer {
public:
    ~AviDemuxer();
    AviDemuxer(const AviDemuxer&) = delete;
    AviDemuxer& operator=(const AviDemuxer&) = delete;

    static HRESULT Open(ByteReader reader, std::unique_ptr<AviDemuxer>* out);

    const std::vector<DemuxStream>& Streams() const { return m_streams; }
    // The longest stream's duration, 100 ns.
    REFERENCE_TIME Duration() const { return m_duration; }

    // S_OK and a packet; S_FALSE at the end of the file.
    HRESULT Next(DemuxPacket* packet);
    // Positions reading at the last key frame at or before `position`
    // (100 ns), or at the start. Fails only when the file cannot be read.
    HRESULT Seek(REFERENCE_TIME position);

private:
    struct Io;
    AviDemuxer() = default;

    std::unique_ptr<Io> m_io;
    ::AVFormatContext* m_ctx = nullptr;
    ::AVPacket* m_packet = nullptr;
    std::vector<DemuxStream> m_streams;
    std::vector<REFERENCE_TIME> m_next_start;  // Per stream, for packets without times.
    REFERENCE_TIME m_duration = 0;
};

}  // namespace ronvix::media
