#pragma once
// The File Writer (CLSID_FileWriter): the end of a capture graph that puts
// bytes on the disk.
//
// What a caller may rely on:
// - `IFileSinkFilter::SetFileName` only stores the name. The file is created
//   (an old one truncated) when the graph leaves Stopped, through the
//   platform's file functions, so a Windows-style name is mapped first. A
//   name that cannot be created makes that state change fail with the file
//   error (HRESULT_FROM_WIN32), so the user learns it when the graph runs.
// - The input pin ("in") takes MEDIATYPE_Stream. It offers `IStream` for
//   positioned writes: `Seek` sets the position of the next `Write`, each
//   `Write` becomes one block at that position, and `Commit` finishes the
//   file (every block written, the file closed). Samples received on the pin
//   are blocks too: their start time is the byte offset.
// - Blocks are queued in order and written by the filter's own write-behind
//   thread while the graph runs, so a producer never waits for the disk.
//   The queue is bounded: its limit follows the disk, three seconds of what
//   the disk was seen to write (between 2 MiB and the set limit, 64 MiB by
//   default), so that Stop drains it in a few seconds even on a slow USB
//   stick. `GetRoom` tells a producer whether a block fits; a producer that
//   can drop what does not fit (a video frame) asks first and never waits.
//   Only past twice the limit does a write wait for room. When the queue
//   rises to the high watermark the graph gets EC_BUFFERING_DATA 1; when it
//   falls back to the low one, EC_BUFFERING_DATA 0. The two alternate, and
//   the last one raised matches the queue, whichever threads crossed the
//   watermarks.
// - Durability: the thread makes what it wrote durable (fdatasync) about
//   once a second, at each barrier a producer queues (everything before it
//   is on the disk before anything after it is written), and at close. A
//   crash loses at most the queue and the last second.
// - Stopping writes out everything queued before the thread is joined; what
//   arrives after that (a multiplexer's closing header patches) is written at
//   once on the caller's thread. A file written through `IStream` stays open
//   until `Commit`, the next run, a disconnection or the filter's end, so a
//   multiplexer that stops after the writer can still finish it. `Commit`
//   returns the first failure of the file, of its last sync or of its
//   closing.
// - A failed write (a full disk) raises EC_ERRORABORT once with the error in
//   param1; later blocks that would grow the file are discarded and report
//   the error, while blocks that only overwrite what is on the disk (header
//   patches) are still written. The file keeps everything written before
//   the failure.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/com/classregistry.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

// Engine extension on the File Writer: the limits of its write-behind
// queue and its disk seam. Control thread; call while stopped.
struct IFileWriterQueue : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{6F1D52A0-3C4B-4E7A-9B21-8D0E4A7C5F11}");
    using base = IUnknown;

    // Bytes; needs low < high <= limit. E_INVALIDARG otherwise. Limits set
    // here hold as they are; without them the queue holds what the disk
    // was seen to write in three seconds, up to the default limit.
    virtual HRESULT SetQueueLimits(uint64_t low_bytes, uint64_t high_bytes,
                                   uint64_t limit_bytes) = 0;
    // Bytes waiting for the disk now. Any thread.
    virtual HRESULT GetQueuedBytes(uint64_t* bytes) = 0;
    // The size of the file being written (or the last one), counting what
    // is still queued: every byte the file has gained, frames, sound and
    // the file's own structure alike. Any thread.
    virtual HRESULT GetFileSize(uint64_t* bytes) = 0;
    // Bytes a block may have now without passing the queue's limit (0 when
    // it is full). Any thread.
    virtual HRESULT GetRoom(uint64_t* bytes) = 0;
    // One block of `parts` written one after another at `offset`: a chunk's
    // header and data without a copy into one buffer first. Producer.
    virtual HRESULT WriteParts(uint64_t offset,
                               std::span<const std::span<const uint8_t>> parts) = 0;
    // Everything queued before is durable before anything queued after is
    // written. Producer.
    virtual HRESULT Barrier() = 0;

    // Writes `size` bytes at `offset` of descriptor `fd`; 0 or an errno
    // value. Called on the write-behind thread (or the stopping caller's).
    // `stop` is requested when the writer stops: a seam that holds data back
    // must then let it through promptly. Tests replace the default pwrite
    // loop to model a slow or full disk.
    using DiskWrite = std::function<int(int fd, const uint8_t* data, size_t size, int64_t offset,
                                        std::stop_token stop)>;
    // Null restores the default.
    virtual HRESULT SetDiskWrite(DiskWrite write) = 0;

protected:
    ~IFileWriterQueue() = default;
};

// Engine extension on the File Writer: whether barriers and closing make
// what was written durable (fdatasync); on for every new writer. Off only
// for benchmarks that set the writer beside a tool that never syncs: the
// order of the writes is kept, and the file's bytes are left to the
// system's own writeback, as that tool leaves them. Control thread, while
// stopped; the writer's threads read it.
struct IFileWriterSync : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{3E8B6F21-9D47-4C5A-A1E0-7B2C94D05F36}");
    using base = IUnknown;
    virtual HRESULT SetBarrierSync(bool sync) = 0;
    virtual HRESULT GetBarrierSync(bool* sync) = 0;

protected:
    ~IFileWriterSync() = default;
};

// Engine extension on the File Writer: a capture that goes on in a next
// file when the file system refuses to grow the current one (EFBIG: FAT's
// 4 GiB, a process's file-size limit) or when it reaches a size its owner
// set. The files are named after the first: "capture.avi", then
// "capture_002.avi", "capture_003.avi", ... (an existing file of that name
// is replaced, as the first one is).
//
// A producer arms it with `KeepFrom`: from then on a refused block does not
// end the capture (no EC_ERRORABORT); the producer learns of it from the
// failure its next growing write returns, ends the file where it chooses
// (`NextFile`) and writes what the file could not hold into the next one.
// Blocks at or past the offset set by `KeepFrom`, written or refused, are
// kept for it until it moves the offset on, so nothing needs a copy of its
// own while the disk catches up.
struct IFileWriterChain : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{B7C1E0D4-5A62-4F0B-8E37-2D9A1C6F4B80}");
    using base = IUnknown;

    // Bytes after which a file ends and the next begins, as if the file
    // system refused to grow it; 0: no limit of the owner's. Control thread,
    // while stopped.
    virtual HRESULT SetFileSizeLimit(uint64_t bytes) = 0;
    virtual HRESULT GetFileSizeLimit(uint64_t* bytes) = 0;
    // Files of this run so far: 1 until a next file begins. Any thread.
    virtual HRESULT GetFileCount(uint32_t* files) = 0;

    // Producer side.
    // Keeps the blocks of the current file at or past `offset` (drops the
    // kept ones before it) and arms the continuation.
    virtual HRESULT KeepFrom(uint64_t offset) = 0;
    // Waits until every queued block is written or refused (or the writer
    // stops); returns the file's failure, if any.
    virtual HRESULT Drain() = 0;
    // The end of what the disk took, in a row from the start.
    virtual HRESULT GetWrittenEnd(uint64_t* bytes) = 0;
    // Writes out what is queued, cuts the current file at `length` bytes,
    // closes it and opens the next file of the series; the failure is
    // cleared. `kept` receives the kept blocks of the file just closed, in
    // the order they were queued. A next file that cannot be created fails
    // the writer as any disk failure does (EC_ERRORABORT).
    struct KeptBlock {
        uint64_t offset = 0;
        std::vector<uint8_t> data;
    };
    virtual HRESULT NextFile(uint64_t length, std::vector<KeptBlock>* kept) = 0;

protected:
    ~IFileWriterChain() = default;
};

// The name of file `number` (1 = the first) of a series named after `first`:
// "_NNN" before the extension of its last path element.
std::u16string ChainFileName(const std::u16string& first, uint32_t number);

// Whether `hr` is the refusal to grow a file that the chain continues past.
bool IsFileSizeLimit(HRESULT hr);

// Default watermarks and limit: enough for a few seconds of large frames.
inline constexpr uint64_t kFileWriterLowBytes = 8ull << 20;
inline constexpr uint64_t kFileWriterHighBytes = 32ull << 20;
inline constexpr uint64_t kFileWriterLimitBytes = 64ull << 20;

com::ClassEntry FileWriterClassEntry();

}  // namespace ronvix::media
