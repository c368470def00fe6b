// Repairing a cut AVI file. See avirepair.h.

#include "platform/media/container/avirepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "platform/media/container/aviwriter.h"
#include "platform/media/container/riff.h"

namespace ronvix::media {

using namespace com;

namespace {

using riff::Fcc;
using riff::U16;
using riff::U32;

// A file descriptor that closes itself.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

bool ReadAt(int fd, uint64_t offset, void* data, size_t size) {
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

// A stream as the input's header describes it.
struct InStream {
    uint32_t type = 0;  // "vids", "auds"
    uint32_t handler = 0;
    uint32_t scale = 1, rate = 25;
    std::vector<uint8_t> strf;
    int out = -1;  // Its number in the repaired file; -1: not carried over.
};

struct Chunk {
    int stream = 0;
    uint64_t offset = 0;  // Of its data.
    uint32_t size = 0;
};

// What the walk of the input found.
struct Scan {
    std::vector<InStream> streams;
    std::vector<Chunk> chunks;
    int64_t indexed = 0;  // Chunks the input's own indexes name.
};

// The two-digit stream number of a chunk id "NNxx", or -1.
int StreamOf(uint32_t id) {
    const char a = char(id & 0xFF), b = char((id >> 8) & 0xFF);
    if (a < '0' || a > '9' || b < '0' || b > '9')
        return -1;
    return (a - '0') * 10 + (b - '0');
}

// The header list: one InStream per 'strl', and the OpenDML super index
// entries (offset of each standard index) for counting what is indexed.
bool ParseHeader(int fd, uint64_t at, uint64_t end, Scan& scan, std::vector<uint64_t>& indexes) {
    while (at + 8 <= end) {
        uint8_t h[12];
        if (!ReadAt(fd, at, h, 8))
            return false;
        const uint32_t id = U32(h), size = U32(h + 4);
        const uint64_t next = at + 8 + size + (size % 2);
        if (next > end)
            return false;
        if (id == Fcc("LIST")) {
            if (!ReadAt(fd, at + 8, h + 8, 4))
                return false;
            if (U32(h + 8) == Fcc("strl")) {
                scan.streams.emplace_back();
            }
            if (!ParseHeader(fd, at + 12, next, scan, indexes))
                return false;
        } else if (id == Fcc("strh") && size >= 32 && !scan.streams.empty()) {
            std::vector<uint8_t> d(size);
            if (!ReadAt(fd, at + 8, d.data(), size))
                return false;
            InStream& s = scan.streams.back();
            s.type = U32(&d[0]);
            s.handler = U32(&d[4]);
            s.scale = U32(&d[20]) ? U32(&d[20]) : 1;
            s.rate = U32(&d[24]) ? U32(&d[24]) : 1;
        } else if (id == Fcc("strf") && !scan.streams.empty() && size <= (1u << 20)) {
            InStream& s = scan.streams.back();
            s.strf.resize(size);
            if (!ReadAt(fd, at + 8, s.strf.data(), size))
                return false;
        } else if (id == Fcc("indx") && size >= 24) {
            uint8_t x[24];
            if (!ReadAt(fd, at + 8, x, 24))
                return false;
            const uint32_t in_use = U32(x + 4);
            for (uint32_t i = 0; i < in_use && 24 + uint64_t(i + 1) * 16 <= size; ++i) {
                uint8_t e[8];
                if (!ReadAt(fd, at + 8 + 24 + uint64_t(i) * 16, e, 8))
                    break;
                uint64_t offset = 0;
                std::memcpy(&offset, e, 8);
                indexes.push_back(offset);
            }
        }
        at = next;
    }
    return true;
}

// Of `count` index entries of `entry_bytes` at `at` (offset and size
// fields: the legacy index's at 8 and 12, a standard index's at 0 and 4,
// offsets from `base`), those whose chunk lies whole in the file. The
// legacy index's offsets name the chunk's header, a standard index's its
// data.
int64_t CountWhole(int fd, uint64_t at, uint64_t count, size_t entry_bytes, uint64_t base,
                   uint64_t file_size) {
    const bool legacy = entry_bytes == 16;
    std::vector<uint8_t> entries(size_t(std::min<uint64_t>(count, 1u << 24)) * entry_bytes);
    if (entries.empty() || !ReadAt(fd, at, entries.data(), entries.size()))
        return 0;
    int64_t whole = 0;
    for (size_t i = 0; i < entries.size(); i += entry_bytes) {
        const uint8_t* e = &entries[i];
        const uint64_t offset = base + (legacy ? U32(e + 8) + 8ull : U32(e));
        const uint64_t size = (legacy ? U32(e + 12) : U32(e + 4)) & 0x7FFFFFFFu;
        whole += offset + size <= file_size;
    }
    return whole;
}

HRESULT ScanFile(int fd, uint64_t file_size, Scan& scan) {
    uint8_t h[12];
    if (file_size < 12 || !ReadAt(fd, 0, h, 12) || U32(h) != Fcc("RIFF") ||
        U32(h + 8) != Fcc("AVI "))
        return VFW_E_INVALID_FILE_FORMAT;
    // The header list, then a flat walk: lists and further RIFFs are
    // stepped into, indexes and padding passed over, stream chunks taken
    // until one is cut or unknown.
    uint64_t at = 12;
    std::vector<uint64_t> indexes;
    std::optional<uint64_t> first_movi;  // Where the legacy index counts from.
    bool header = false;
    while (at + 12 <= file_size) {
        if (!ReadAt(fd, at, h, 12))
            break;
        const uint32_t id = U32(h), size = U32(h + 4);
        if (id == Fcc("RIFF")) {
            at += 12;  // A following 'AVIX' (or a stale size): go inside.
            continue;
        }
        if (id == Fcc("LIST")) {
            const uint32_t type = U32(h + 8);
            if (type == Fcc("hdrl")) {
                const uint64_t end = std::min<uint64_t>(at + 8 + size, file_size);
                if (!ParseHeader(fd, at + 12, end, scan, indexes))
                    return VFW_E_INVALID_FILE_FORMAT;
                header = true;
                at = at + 8 + size + (size % 2);
            } else if (type == Fcc("movi") || type == Fcc("rec ")) {
                if (type == Fcc("movi") && !first_movi)
                    first_movi = at;
                at += 12;
            } else {
                at += 8 + uint64_t(size) + (size % 2);
            }
            continue;
        }
        if (id == Fcc("idx1")) {
            if (at + 8 + uint64_t(size) <= file_size && first_movi)
                scan.indexed = std::max(scan.indexed, CountWhole(fd, at + 8, size / 16, 16,
                                                                 *first_movi + 8, file_size));
            at += 8 + uint64_t(size) + (size % 2);
            continue;
        }
        const int stream = StreamOf(id);
        const bool index = (id & 0xFFFF) == (Fcc("ix00") & 0xFFFF);
        const bool skip = id == Fcc("JUNK") || index;
        if (!skip && (stream < 0 || size_t(stream) >= scan.streams.size()))
            break;  // Not a chunk of this file: the end of what was written.
        if (at + 8 + uint64_t(size) > file_size)
            break;  // Cut short.
        if (!skip)
            scan.chunks.push_back({stream, at + 8, size});
        at += 8 + uint64_t(size) + (size % 2);
    }
    if (!header || scan.streams.empty())
        return VFW_E_INVALID_FILE_FORMAT;
    // What the OpenDML indexes name of what is whole in the file.
    int64_t odml = 0;
    for (uint64_t offset : indexes) {
        uint8_t x[32];
        if (offset + 32 > file_size || !ReadAt(fd, offset, x, 32) ||
            (U32(x) & 0xFFFF) != (Fcc("ix00") & 0xFFFF))
            continue;
        uint64_t base = 0;
        std::memcpy(&base, x + 20, 8);
        odml += CountWhole(fd, offset + 32, U32(x + 12), 8, base, file_size);
    }
    scan.indexed = std::max(scan.indexed, odml);
    return S_OK;
}

// The repaired file's bytes, straight to its descriptor.
class FileSink final : public AviSink {
public:
    explicit FileSink(int fd) : m_fd(fd) {}
    HRESULT WriteAt(uint64_t offset, std::span<const std::span<const uint8_t>> parts) override {
        for (const auto& p : parts) {
            const uint8_t* data = p.data();
            size_t size = p.size();
            while (size > 0) {
                const ssize_t n = ::pwrite(m_fd, data, size, off_t(offset));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return HResultFromErrno(n < 0 ? errno : EIO);
                data += n;
                size -= size_t(n);
                offset += uint64_t(n);
            }
        }
        return S_OK;
    }
    HRESULT Barrier() override { return S_OK; }

private:
    const int m_fd;
};

}  // namespace

HRESULT RepairAvi(const std::string& input, const std::string& output, AviRepairReport* report) {
    AviRepairReport r;
    Fd in(::open(input.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0)
        return HResultFromErrno(errno);
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0)
        return HResultFromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return VFW_E_INVALID_FILE_FORMAT;
    Scan scan;
    HRESULT hr = ScanFile(in.Get(), uint64_t(st.st_size), scan);
    if (FAILED(hr))
        return hr;
    r.chunks_indexed_before = scan.indexed;

    Fd out(::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.Get() < 0)
        return HResultFromErrno(errno);
    FileSink sink(out.Get());
    AviFileWriter writer(sink);
    for (InStream& s : scan.streams) {
        if (s.type == Fcc("vids") && s.strf.size() >= 40) {
            AviVideoFormat f;
            f.strf = s.strf;
            f.handler = s.handler;
            f.compressed = U32(&s.strf[16]) != 0;  // biCompression
            f.width = int32_t(U32(&s.strf[4]));
            f.height = int32_t(U32(&s.strf[8]));
            f.rate_num = s.rate;
            f.rate_den = s.scale;
            s.out = writer.AddVideo(std::move(f));
        } else if (s.type == Fcc("auds") && s.strf.size() >= 16) {
            AviAudioFormat f;
            f.strf = s.strf;
            f.block_align = std::max<uint16_t>(1, U16(&s.strf[12]));
            f.bytes_per_second = U32(&s.strf[8]);
            f.sample_rate = U32(&s.strf[4]);
            s.out = writer.AddAudio(std::move(f));
        }
    }
    hr = writer.Begin();
    std::vector<uint8_t> buffer;
    std::map<int, uint64_t> audio_bytes;
    for (const Chunk& c : scan.chunks) {
        if (FAILED(hr))
            break;
        const InStream& s = scan.streams[size_t(c.stream)];
        if (s.out < 0)
            continue;
        buffer.resize(c.size);
        if (c.size > 0 && !ReadAt(in.Get(), c.offset, buffer.data(), c.size)) {
            hr = HResultFromErrno(errno ? errno : EIO);
            break;
        }
        hr = writer.Write(s.out, {buffer.data(), c.size}, true);
        if (s.type == Fcc("vids")) {
            ++r.video_frames;
            r.pictures += c.size > 0;
        } else {
            ++r.audio_chunks;
            audio_bytes[c.stream] += c.size;
        }
    }
    const HRESULT finished = writer.Finish();
    if (SUCCEEDED(hr))
        hr = finished;
    if (SUCCEEDED(hr) && ::fsync(out.Get()) != 0)
        hr = HResultFromErrno(errno);
    for (const InStream& s : scan.streams) {
        if (s.type == Fcc("vids") && s.out >= 0 && r.video_seconds == 0)
            r.video_seconds = double(r.video_frames) * double(s.scale) / double(s.rate);
    }
    for (const auto& [stream, bytes] : audio_bytes) {
        const InStream& s = scan.streams[size_t(stream)];
        const double per_second = s.strf.size() >= 12 ? double(U32(&s.strf[8])) : 0;
        if (per_second > 0)
            r.audio_seconds = std::max(r.audio_seconds, double(bytes) / per_second);
    }
    if (report)
        *report = r;
    return hr;
}

HRESULT RepairAviInPlace(const std::string& path, AviRepairReport* report) {
    const std::string temporary = path + ".repairing";
    AviRepairReport r;
    const HRESULT hr = RepairAvi(path, temporary, &r);
    if (FAILED(hr)) {
        ::unlink(temporary.c_str());
        return hr;
    }
    // Replaced only when nothing the file's own indexes name is lost.
    const int64_t recovered = r.video_frames + r.audio_chunks;
    if (recovered >= r.chunks_indexed_before) {
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            const HRESULT error = HResultFromErrno(errno);
            ::unlink(temporary.c_str());
            return error;
        }
        r.replaced = true;
    } else {
        ::unlink(temporary.c_str());
    }
    if (report)
        *report = r;
    return S_OK;
}

}  // namespace ronvix::media
