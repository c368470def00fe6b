// Fuzzes file playback. Any bytes, put in a file:
// - through the File Source's reader into the splitter's demuxer, either
//   fail to open as AVI with a file result or read to an end, seek and read
//   again, without a crash, a hang or reading outside the file;
// - played out as "Print to Tape" plays a file (File Source, AVI Splitter,
//   Sample Grabber, Virtual Tape Deck, every other pin into a checking
//   sink; tests/platform/media/container/playback_path.h), either fail to
//   connect with that result and fail to run with it too, or play to the
//   end twice, with every pool sized from what the file holds.
// Memory is bounded as well: run it with -malloc_limit_mb=64 so that any
// single allocation of 64 MiB or more (what a header alone could ask for)
// is a finding.

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/com/comptr.h"
#include "platform/com/oleauto.h"
#include "platform/media/container/avidemux.h"
#include "platform/media/container/avisplitter.h"
#include "platform/media/container/playback_path.h"

using namespace ronvix;
using namespace ronvix::media;

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// Bounds each input's work so that a file claiming millions of packets
// still ends quickly.
constexpr int kMaxPackets = 2000;

void ReadSome(AviDemuxer& demux, int limit) {
    DemuxPacket packet;
    for (int i = 0; i < limit; ++i) {
        const HRESULT hr = demux.Next(&packet);
        if (hr != com::S_OK) {
            Check(hr == com::S_FALSE);
            return;
        }
        Check(packet.stream >= 0 && size_t(packet.stream) < demux.Streams().size());
        Check(packet.stop >= packet.start);
    }
}

bool IsFileResult(HRESULT hr) {
    return hr == com::VFW_E_FILE_TOO_SHORT || hr == com::VFW_E_INVALID_FILE_FORMAT ||
           hr == com::VFW_E_UNSUPPORTED_VIDEO;
}

void Demux(const std::u16string& path, size_t size) {
    com::ComPtr<IBaseFilter> source;
    Check(CreateFileSource(IBaseFilter::iid, source.OutVoid()) == com::S_OK);
    Check(source.As<IFileSourceFilter>()->Load(path.c_str(), nullptr) == com::S_OK);
    com::ComPtr<IPin> pin;
    Check(source->FindPin(u"Output", pin.ReleaseAndGetAddressOf()) == com::S_OK);
    com::ComPtr<IAsyncReader> reader = pin.As<IAsyncReader>();
    Check(reader != nullptr);
    LONGLONG total = 0;
    Check(reader->Length(&total, nullptr) == com::S_OK && total == LONGLONG(size));

    // The same byte reader the splitter's input builds over the pin.
    ByteReader bytes;
    bytes.length = total;
    bytes.read = [reader, total](int64_t position, uint8_t* buffer, int64_t want) -> int64_t {
        Check(position >= 0 && want >= 0 && position + want <= total);
        const HRESULT hr = reader->SyncRead(position, static_cast<LONG>(want), buffer);
        if (com::FAILED(hr))
            return -1;
        return hr == com::S_OK ? want : std::max<int64_t>(0, total - position);
    };
    std::unique_ptr<AviDemuxer> demux;
    const HRESULT hr = AviDemuxer::Open(std::move(bytes), &demux);
    if (com::FAILED(hr)) {
        Check(IsFileResult(hr));
        return;
    }
    Check(demux != nullptr);
    for (const DemuxStream& s : demux->Streams())
        Check(s.max_packet_bytes >= kMinPacketBytes &&
              s.max_packet_bytes <= std::max<int64_t>(kMinPacketBytes, total));
    ReadSome(*demux, kMaxPackets);
    demux->Seek(demux->Duration() / 2);
    ReadSome(*demux, kMaxPackets / 4);
    demux->Seek(0);
    ReadSome(*demux, 16);
}

// The deck's recordings of one input, so the folder never fills.
void EmptyFolder(const std::string& folder) {
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                unlink((folder + "/" + entry->d_name).c_str());
        closedir(dir);
    }
}

std::string g_tape_dir;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/avi-fuzz-tape-XXXXXX";
    if (const char* dir = mkdtemp(pattern))
        g_tape_dir = dir;
    std::atexit([] {
        EmptyFolder(g_tape_dir);
        rmdir(g_tape_dir.c_str());
    });
    setenv("RONVIX_TAPE_DIR", g_tape_dir.c_str(), 1);
    test::RegisterTapePathClasses();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("avi", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n <= 0)
            break;
        written += size_t(n);
    }
    const std::u16string path = com::ToUtf16("/proc/self/fd/" + std::to_string(fd));
    Demux(path, size);
    const test::TapePathResult play = test::PlayTapePath(path, int64_t(size), 10000);
    for (const std::string& fault : play.faults)
        std::fprintf(stderr, "tape path: %s\n", fault.c_str());
    Check(play.faults.empty());
    Check(com::SUCCEEDED(play.connect) || IsFileResult(play.connect));
    EmptyFolder(g_tape_dir);
    close(fd);
    return 0;
}
