// Fuzzes file playback: any bytes, put in a file and loaded through the File
// Source, must either fail to open as AVI with a result or read to an end,
// seek and read again, without a crash, a hang or reading outside the file.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/com/comptr.h"
#include "platform/com/oleauto.h"
#include "platform/media/filters/avidemux.h"
#include "platform/media/filters/playback.h"

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

}  // namespace

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
    {
        com::ComPtr<IBaseFilter> source;
        Check(CreateFileSource(IBaseFilter::iid, source.OutVoid()) == com::S_OK);
        const std::u16string path = com::ToUtf16("/proc/self/fd/" + std::to_string(fd));
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
        if (com::SUCCEEDED(hr)) {
            Check(demux != nullptr);
            ReadSome(*demux, kMaxPackets);
            demux->Seek(demux->Duration() / 2);
            ReadSome(*demux, kMaxPackets / 4);
            demux->Seek(0);
            ReadSome(*demux, 16);
        } else {
            Check(hr == com::VFW_E_FILE_TOO_SHORT || hr == com::VFW_E_INVALID_FILE_FORMAT);
        }
    }
    close(fd);
    return 0;
}
