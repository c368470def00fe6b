// ronvix-capture: scripted captures and tape output without a window,
// through the same capture and play-out sessions as the window's pages
// (workflow/), so a file captured here is captured exactly as the capture
// page captures it. The preview is left out: there is no window to show it
// in.

#include <fcntl.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

#include "mediagraph/device_enum.h"
#include "mediagraph/formdata.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/mediatype.h"
#include "mediagraph/platform.h"
#include "mediagraph/workflowgraphs.h"
#include "options.h"
#include "platform/com/moniker.h"
#include "platform/media/container/avirepair.h"
#include "platform/media/container/riff.h"
#include "platform/media/core/types.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "workflow/capture_session.h"
#include "workflow/playout_session.h"

namespace ronvix::tools {

namespace {

using com::ComPtr;

// A failure that ends the command with `code` after printing `message`.
struct Failure {
    int code;
    QString message;
};

void Print(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PrintError(const QString& text) {
    std::fprintf(stderr, "ronvix-capture: %s\n", text.toLocal8Bit().constData());
}

// SIGINT, SIGTERM and SIGHUP end a capture or a play as its time running
// out does: the file is finished.
std::atomic<bool> g_interrupted{false};

extern "C" void OnSignal(int) {
    g_interrupted.store(true);
}

struct Category {
    const com::GUID* id;
    const char* title;
};
const Category kCategories[] = {
    {&media::CLSID_VideoInputDeviceCategory, "Video capture devices"},
    {&media::CLSID_AudioInputDeviceCategory, "Audio capture devices"},
    {&media::AM_KSCATEGORY_TRANSMIT, "Video output devices"},
    {&media::CLSID_AudioRendererCategory, "Audio output devices"},
};

// The position of the device `spec` names in `category`: an all-digit spec
// is a position, anything else a name (exact first, then ignoring case).
int FindDevice(mediagraph::TSysDevEnum& devices, const com::GUID& category, const QString& spec,
               const char* what) {
    devices.SelectCategory(category);
    bool numeric = !spec.isEmpty();
    for (QChar c : spec)
        numeric = numeric && c.isDigit();
    if (numeric) {
        bool ok = false;
        const int index = spec.toInt(&ok);
        if (ok && index < devices.DeviceCount())
            return index;
        throw Failure{kExitNoDevice, QStringLiteral("no %1 at position %2 (%3 listed; see --list)")
                                         .arg(QLatin1String(what), spec)
                                         .arg(devices.DeviceCount())};
    }
    for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive})
        for (int i = 0; i < devices.DeviceCount(); ++i)
            if (devices.DeviceInfo(i).Name().compare(spec, cs) == 0)
                return i;
    throw Failure{kExitNoDevice,
                  QStringLiteral("no %1 named \"%2\" (see --list)").arg(QLatin1String(what), spec)};
}

// Binds device `index` of the enumerator's category to `filter` in `graph`,
// as choosing it in the window's list does.
void AssignDevice(mediagraph::TSysDevEnum& devices, int index, mediagraph::TFilter* filter,
                  mediagraph::TFilterGraph* graph) {
    filter->BaseFilter().AssignMoniker(devices.DeviceMoniker(index).Get());
    filter->SetFilterGraph(graph);
}

// The pin a capture device's formats are offered and set on: its first.
// A frame rate as a user types it: 25, 29.97, 30.
QString RateText(double fps) {
    QString text = QString::number(fps, 'f', 2);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

double FramesPerSecond(const media::VIDEOINFOHEADER& v) {
    return v.AvgTimePerFrame > 0 ? 1e7 / double(v.AvgTimePerFrame) : 0;
}

// One line of --list and of the formats a refused --format names:
// "MJPG 1280x720 30 fps", "44100 Hz 16 bits 1 channels".
QString FormatText(const media::MediaType& type) {
    if (const media::VIDEOINFOHEADER* v = type.VideoInfo()) {
        QString text = QStringLiteral("%1 %2x%3")
                           .arg(mediagraph::CompressionText(type->subtype.Data1))
                           .arg(v->bmiHeader.biWidth)
                           .arg(std::abs(v->bmiHeader.biHeight));
        if (const double fps = FramesPerSecond(*v); fps > 0)
            text += QStringLiteral(" %1 fps").arg(RateText(fps));
        return text;
    }
    if (const media::WAVEFORMATEX* w = type.WaveFormat())
        return QStringLiteral("%1 Hz %2 bits %3 channels")
            .arg(w->nSamplesPerSec)
            .arg(w->wBitsPerSample)
            .arg(w->nChannels);
    return QStringLiteral("(another kind of format)");
}

// The format `spec` names among `formats`: a position, or the shape
// WxH[@RATE][:FOURCC] (video) or RATE[:BITS[:CHANNELS]] (audio), the first
// that matches. Refused with the device's formats listed.
const media::MediaType& ChooseFormat(const std::vector<media::MediaType>& formats,
                                     const QString& spec, bool video) {
    bool numeric = false;
    const int position = spec.toInt(&numeric);
    // A bare number is a position; for sound, a number past the list is a
    // rate.
    if (numeric && position >= 0 && (video || position < static_cast<int>(formats.size()))) {
        if (position < static_cast<int>(formats.size()))
            return formats[size_t(position)];
    } else if (video) {
        static const QRegularExpression shape(
            QStringLiteral(R"(^(\d+)x(\d+)(?:@(\d+(?:\.\d+)?))?(?::([A-Za-z0-9]{4}))?$)"));
        if (const auto m = shape.match(spec); m.hasMatch()) {
            for (const media::MediaType& f : formats) {
                const media::VIDEOINFOHEADER* v = f.VideoInfo();
                if (!v || v->bmiHeader.biWidth != m.captured(1).toInt() ||
                    std::abs(v->bmiHeader.biHeight) != m.captured(2).toInt())
                    continue;
                if (m.hasCaptured(3) &&
                    std::abs(FramesPerSecond(*v) - m.captured(3).toDouble()) > 0.01)
                    continue;
                if (m.hasCaptured(4) && mediagraph::CompressionText(f->subtype.Data1)
                                                .compare(m.captured(4), Qt::CaseInsensitive) != 0)
                    continue;
                return f;
            }
        }
    } else {
        static const QRegularExpression shape(QStringLiteral(R"(^(\d+)(?::(\d+)(?::(\d+))?)?$)"));
        if (const auto m = shape.match(spec); m.hasMatch()) {
            for (const media::MediaType& f : formats) {
                const media::WAVEFORMATEX* w = f.WaveFormat();
                if (w && int(w->nSamplesPerSec) == m.captured(1).toInt() &&
                    (!m.hasCaptured(2) || w->wBitsPerSample == m.captured(2).toInt()) &&
                    (!m.hasCaptured(3) || w->nChannels == m.captured(3).toInt()))
                    return f;
            }
        }
    }
    QString offered;
    for (size_t i = 0; i < formats.size(); ++i)
        offered += QStringLiteral("\n  %1: %2").arg(i).arg(FormatText(formats[i]));
    throw Failure{kExitUsage, QStringLiteral("the %1 device offers no format \"%2\"; it offers:%3")
                                  .arg(QLatin1String(video ? "video" : "audio"), spec, offered)};
}

// The absolute path of an output file that can be written: the file is
// opened for writing (made when missing) so that an unwritable place is
// reported before any graph is built.
QString WritableOutput(const QString& name) {
    const QString path = QFileInfo(name).absoluteFilePath();
    if (QFileInfo(path).isDir())
        throw Failure{kExitFileError, QStringLiteral("cannot write %1: it is a folder").arg(name)};
    const QByteArray local = path.toLocal8Bit();
    const int fd = ::open(local.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        throw Failure{kExitFileError, QStringLiteral("cannot write %1: %2")
                                          .arg(name, QString::fromLocal8Bit(std::strerror(errno)))};
    ::close(fd);
    return path;
}

QString ReadableInput(const QString& name) {
    const QFileInfo info(name);
    if (!info.exists())
        throw Failure{kExitFileError, QStringLiteral("cannot read %1: no such file").arg(name)};
    if (!info.isFile() || !info.isReadable())
        throw Failure{kExitFileError,
                      QStringLiteral("cannot read %1: not a readable file").arg(name)};
    return info.absoluteFilePath();
}

// The video frames an AVI file's header says it holds: the length of its
// first video stream (or, without a stream header, the main header's frame
// count); none when the header cannot be read. The header is read from the
// file itself, because the splitter measures a stream by what it can read
// of it, and a file whose frames cannot be read is what this is for.
std::optional<int64_t> HeaderVideoFrames(const QString& path) {
    using media::riff::Fcc;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(1 << 20);
    const auto* bytes = reinterpret_cast<const uint8_t*>(head.constData());
    // A little-endian word at `at`, 0 past the bytes read.
    auto u32 = [&](qsizetype at) -> uint32_t {
        return at >= 0 && at + 4 <= head.size() ? media::riff::U32(bytes + at) : 0;
    };
    if (u32(0) != Fcc("RIFF") || u32(8) != Fcc("AVI "))
        return std::nullopt;
    std::optional<int64_t> total;
    // Chunks of the first RIFF list: the header list "hdrl" holds "avih" and
    // a "strl" list per stream, each beginning with its "strh".
    qsizetype at = 12;
    for (int chunks = 0; at + 8 <= head.size() && chunks < 4096; ++chunks) {
        const uint32_t id = u32(at);
        const qsizetype size = u32(at + 4);
        if (id == Fcc("LIST")) {
            if (u32(at + 8) == Fcc("movi"))
                break;  // the header ends where the data begins
            at += 12;   // into the list
            continue;
        }
        if (id == Fcc("avih") && size >= 20)
            total = u32(at + 8 + 16);  // dwTotalFrames
        if (id == Fcc("strh") && size >= 36 && u32(at + 8) == Fcc("vids"))
            return u32(at + 8 + 32);  // the video stream's dwLength
        at += 8 + size + (size & 1);
    }
    return total;
}

// How long past its timed stop a capture may run before the tool stops it
// itself.
constexpr int kTimedStopGrace_s = 2;

// Runs the event loop once a second until `tick` returns false (it is told
// the whole seconds elapsed), an abort is seen, or a signal arrives.
void RunTicks(const std::function<bool(int)>& tick, const std::atomic<bool>& stop) {
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    int printed = 0;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stop.load() || g_interrupted.load()) {
            loop.quit();
            return;
        }
        const int seconds = static_cast<int>(clock.elapsed() / 1000);
        while (printed < seconds) {
            ++printed;
            if (!tick(printed)) {
                loop.quit();
                return;
            }
        }
    });
    poll.start();
    loop.exec();
}

int List() {
    mediagraph::TSysDevEnum devices(media::CLSID_VideoInputDeviceCategory);
    for (const Category& c : kCategories) {
        devices.SelectCategory(*c.id);
        Print(QStringLiteral("%1:").arg(QLatin1String(c.title)));
        if (devices.DeviceCount() == 0)
            Print(QStringLiteral("  (none)"));
        for (int i = 0; i < devices.DeviceCount(); ++i) {
            const ComPtr<com::IMoniker> moniker = devices.DeviceMoniker(i);
            Print(QStringLiteral("  %1  %2\n     %3")
                      .arg(i)
                      .arg(devices.DeviceInfo(i).Name(),
                           QString::fromStdU16String(com::DisplayNameOf(moniker.Get()))));
            if (c.id != &media::CLSID_VideoInputDeviceCategory &&
                c.id != &media::CLSID_AudioInputDeviceCategory)
                continue;
            // A device that cannot be opened now lists no formats.
            ComPtr<media::IBaseFilter> device;
            moniker->BindToObject(nullptr, nullptr, media::IBaseFilter::iid, device.OutVoid());
            if (!device)
                continue;
            const std::vector<media::MediaType> formats = mediagraph::DeviceFormats(device.Get());
            for (size_t f = 0; f < formats.size(); ++f)
                Print(QStringLiteral("       format %1: %2").arg(f).arg(FormatText(formats[f])));
        }
    }
    return kExitOk;
}

int Capture(const Options& o) {
    QObject owner;
    workflow::CaptureSession session(&owner);
    const mediagraph::CaptureMedia& m = session.Media();
    // No window to preview in: the renderer stays out of the graph.
    m.videowindow->SetFilterGraph(nullptr);

    mediagraph::TSysDevEnum devices(media::CLSID_VideoInputDeviceCategory);
    QString video_name;
    if (!o.video.isEmpty()) {
        const int index = FindDevice(devices, media::CLSID_VideoInputDeviceCategory, o.video,
                                     "video capture device");
        video_name = devices.DeviceInfo(index).Name();
        AssignDevice(devices, index, m.VideoSourceFilter, m.CaptureGraph);
    }
    if (!o.audio.isEmpty()) {
        const int index = FindDevice(devices, media::CLSID_AudioInputDeviceCategory, o.audio,
                                     "audio capture device");
        AssignDevice(devices, index, m.AudioSourceFilter, m.CaptureGraph);
    }
    // The formats chosen, looked up on the devices as they are opened for
    // the capture.
    if (!o.video_format.isEmpty() || !o.audio_format.isEmpty() || o.compression_given) {
        session.Rebuild();
        if (!o.video.isEmpty()) {
            const ComPtr<media::IBaseFilter> device =
                m.VideoSourceFilter->Query<media::IBaseFilter>();
            std::optional<media::MediaType> recorded;
            if (!o.video_format.isEmpty()) {
                recorded =
                    ChooseFormat(mediagraph::DeviceFormats(device.Get()), o.video_format, true);
                session.ChooseVideoFormat(recorded);
            } else {
                recorded = mediagraph::CurrentDeviceFormat(device.Get());
            }
            if (o.compression_given && recorded &&
                recorded->Get().subtype == media::MEDIASUBTYPE_MJPG)
                PrintError(QStringLiteral(
                    "--compression does not apply: the video device delivers MJPG, recorded as it "
                    "comes"));
        }
        if (!o.audio.isEmpty() && !o.audio_format.isEmpty())
            session.ChooseAudioFormat(ChooseFormat(
                mediagraph::DeviceFormats(m.AudioSourceFilter->Query<media::IBaseFilter>().Get()),
                o.audio_format, false));
    }
    if (o.unpaced && video_name != QLatin1String(media::kTestCameraName))
        throw Failure{kExitUsage, QStringLiteral("--unpaced works with the %1 only")
                                      .arg(QLatin1String(media::kTestCameraName))};
    const QString out = WritableOutput(o.out);

    std::atomic<bool> ended{false};
    bool aborted = false;
    QString abort_message;
    session.on_report = [&](const QString& message) {
        abort_message = message;
        aborted = true;
    };
    session.on_capture_ended = [&] { ended.store(true); };

    workflow::CaptureSettings settings;
    settings.file_name = out;
    settings.compression = o.compression == VideoCompression::Ffv1
                               ? mediagraph::TVideoCompression::Lossless
                           : o.compression == VideoCompression::Uncompressed
                               ? mediagraph::TVideoCompression::Uncompressed
                               : mediagraph::TVideoCompression::Mjpeg;
    // The files that follow the first when one is full.
    if (o.split_mb)
        settings.split_bytes = static_cast<uint64_t>(*o.split_mb) << 20;
    // The capture ends itself at that stream time, as the window's timed
    // stop does: every stream holds exactly that much.
    if (o.seconds)
        settings.stop_after_100ns = int64_t(*o.seconds) * 10'000'000;
    session.BuildCapture(settings);
    if (!session.HasFile())
        throw Failure{kExitFailed, QStringLiteral("cannot make the AVI writer for %1").arg(o.out)};
    if (!o.video.isEmpty() && !session.VideoConnected())
        throw Failure{kExitFailed,
                      QStringLiteral("the video device offers no format the capture path takes")};

    // The source counts what reached the file as captured and what it lost
    // or the file left out as dropped; the file's timeline tells which of
    // the dropped it left out and the empty places it inserted.
    QElapsedTimer clock;
    clock.start();
    session.RunCapture();
    int64_t last_bytes = 0;
    RunTicks(
        [&](int second) {
            const int64_t b = session.FileBytes();
            const workflow::CaptureStatistics c =
                session.Statistics().value_or(workflow::CaptureStatistics{});
            Print(QStringLiteral("%1 s: captured %2, dropped %3, left out %4, inserted %5, %6 KB/s")
                      .arg(second)
                      .arg(c.captured)
                      .arg(c.dropped)
                      .arg(c.left_out)
                      .arg(c.inserted)
                      .arg((b - last_bytes) / 1024));
            last_bytes = b;
            // The end time is the capture's own; should it not arrive (a
            // graph whose clock stalled), the tool still ends in time.
            return !o.seconds || second < *o.seconds + kTimedStopGrace_s;
        },
        ended);
    // The stop finishes the file: the counts it took once the devices had
    // stopped are final, and so is the size of the finished file. A
    // failure while finishing (the last sync, a full disk) is reported as
    // an abort.
    session.Stop();
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const workflow::CaptureStatistics final_counts =
        session.LastStatistics().value_or(workflow::CaptureStatistics{});
    const int64_t final_bytes = session.FileBytes();
    const uint32_t files = session.FileCount();
    QCoreApplication::processEvents();

    Print(QStringLiteral("captured %1 frames, dropped %2 (%3 left out to keep time), "
                         "%4 empty places inserted, %5 bytes in %6 s (%7 frames/s) to %8")
              .arg(final_counts.captured)
              .arg(final_counts.dropped)
              .arg(final_counts.left_out)
              .arg(final_counts.inserted)
              .arg(final_bytes)
              .arg(elapsed, 0, 'f', 2)
              .arg(elapsed > 0 ? static_cast<double>(final_counts.captured) / elapsed : 0.0, 0, 'f',
                   1)
              .arg(out));
    if (files > 1) {
        QStringList names;
        for (uint32_t n = 1; n <= files; ++n)
            names << QString::fromStdU16String(media::ChainFileName(out.toStdU16String(), n));
        Print(QStringLiteral("the capture went on in %1 files: %2")
                  .arg(files)
                  .arg(names.join(QStringLiteral(", "))));
    }
    if (aborted) {
        PrintError(
            QStringLiteral("the capture stopped with an error: %1").arg(abort_message.trimmed()));
        return kExitFailed;
    }
    return kExitOk;
}

int Repair(const Options& o) {
    const QString file = ReadableInput(o.repair);
    const QByteArray path = QFile::encodeName(file);
    media::AviRepairReport report;
    com::HRESULT hr = com::S_OK;
    if (o.out.isEmpty()) {
        hr = media::RepairAviInPlace(path.toStdString(), &report);
    } else {
        const QString out = WritableOutput(o.out);
        hr = media::RepairAvi(path.toStdString(), QFile::encodeName(out).toStdString(), &report);
    }
    if (hr == com::VFW_E_INVALID_FILE_FORMAT)
        throw Failure{kExitFileError,
                      QStringLiteral("%1 is not an AVI file with streams").arg(o.repair)};
    if (com::FAILED(hr))
        throw Failure{
            kExitFailed,
            QStringLiteral("the repair failed: %1").arg(mediagraph::ResultText(hr).trimmed())};
    Print(QStringLiteral("recovered %1 video frames (%2 pictures, %3 s) and %4 s of sound from %5")
              .arg(report.video_frames)
              .arg(report.pictures)
              .arg(report.video_seconds, 0, 'f', 2)
              .arg(report.audio_seconds, 0, 'f', 2)
              .arg(o.repair));
    if (o.out.isEmpty() && !report.replaced) {
        Print(QStringLiteral("%1 was left as it was: its own indexes name more (%2 chunks) than "
                             "the repair found")
                  .arg(o.repair)
                  .arg(report.chunks_indexed_before));
    }
    return kExitOk;
}

int Play(const Options& o) {
    const QString file = ReadableInput(o.play);
    QObject owner;
    workflow::PlayoutSession session(&owner);
    const mediagraph::TapeMedia& m = session.Media();

    mediagraph::TSysDevEnum devices(media::AM_KSCATEGORY_TRANSMIT);
    const int to = FindDevice(devices, media::AM_KSCATEGORY_TRANSMIT, o.to, "video output device");
    const QString to_name = devices.DeviceInfo(to).Name();
    AssignDevice(devices, to, m.VideoDestFilter, m.OutGraph);
    if (!o.audio_out.isEmpty()) {
        const int index = FindDevice(devices, media::CLSID_AudioRendererCategory, o.audio_out,
                                     "audio output device");
        AssignDevice(devices, index, m.AudioDestFilter, m.OutGraph);
    }

    // The file is played by the tool's own loop below, not as a session the
    // user runs: an abort ends the loop and is reported with the engine's
    // reason.
    std::atomic<bool> ended{false};
    com::HRESULT abort_result = com::S_OK;
    bool aborted = false;
    m.OutGraph->OnGraphErrorAbort = [&](QObject*, com::HRESULT result) {
        abort_result = result;
        aborted = true;
        ended.store(true);
    };
    session.on_complete = [&] { ended.store(true); };

    // No window shows the device's own output.
    m.OutGraph->SetActive(true);
    const mediagraph::TTapeGraphResult built = mediagraph::BuildTapeGraph(
        {m.OutGraph, m.VideoDestFilter, m.OutGrabber, m.Splitter, nullptr}, file);
    if (built.video != mediagraph::TTapeVideo::Connected)
        throw Failure{kExitFailed,
                      QStringLiteral("%1 holds no video stream that %2 can play: %3")
                          .arg(o.play, to_name, mediagraph::TapeVideoProblem(built, to_name))};
    // A file whose header counts frames must send some, or the play failed
    // however quietly the graph ran.
    const int64_t file_frames = HeaderVideoFrames(file).value_or(0);

    QElapsedTimer clock;
    clock.start();
    // As "Play" on the page: a device that cannot start is reported in the
    // same words, and the play leaves nothing behind.
    session.Run();
    int64_t last_bytes = 0;
    RunTicks(
        [&](int second) {
            const int64_t b = session.BytesSent();
            Print(QStringLiteral("%1 s: sent %2 frames, %3 KB/s")
                      .arg(second)
                      .arg(session.BuffersSent())
                      .arg((b - last_bytes) / 1024));
            last_bytes = b;
            return true;
        },
        ended);
    // The completion event is delivered by the loop; a signal ends early.
    const bool complete = ended.load() && !aborted;
    m.OutGraph->Stop();
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    m.OutGraph->SetActive(false);
    QCoreApplication::processEvents();

    const int64_t frames = session.BuffersSent();
    Print(QStringLiteral("sent %1 frames, %2 bytes in %3 s to %4%5")
              .arg(frames)
              .arg(session.BytesSent())
              .arg(elapsed, 0, 'f', 2)
              .arg(to_name, complete ? QString() : QStringLiteral(" (stopped before the end)")));
    if (aborted) {
        PrintError(QStringLiteral("the play stopped with an error: %1")
                       .arg(mediagraph::ResultText(abort_result).trimmed()));
        return kExitFailed;
    }
    // A play that ran to the end of a file with frames without sending one
    // is a failure, not a success with nothing in it. (A play interrupted
    // before its first frame was stopped, not failed.)
    if (frames == 0 && file_frames > 0 && !g_interrupted.load()) {
        PrintError(QStringLiteral("no frame of %1 could be sent to %2").arg(o.play, to_name));
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

}  // namespace ronvix::tools

int main(int argc, char** argv) {
    using namespace ronvix::tools;
    // No display is needed; the engine's Qt parts run on the offscreen
    // platform when nothing else is asked for.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const ParseResult parsed = ParseOptions(arguments);
    if (!parsed.options) {
        PrintError(parsed.error);
        std::fputs("Try 'ronvix-capture --help'.\n", stderr);
        return kExitUsage;
    }
    const Options& o = *parsed.options;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGHUP, OnSignal);
    try {
        switch (o.command) {
            case Command::Help:
                std::fputs(UsageText().toLocal8Bit().constData(), stdout);
                return kExitOk;
            case Command::Version:
                Print(QStringLiteral("ronvix-capture %1").arg(QLatin1String(RONVIX_VERSION)));
                return kExitOk;
            default:
                break;
        }
        ronvix::media::VirtualDeviceHooks hooks;
        hooks.unpaced = o.unpaced;
        ronvix::mediagraph::RegisterPlatformClasses(hooks);
        switch (o.command) {
            case Command::List:
                return List();
            case Command::Capture:
                return Capture(o);
            case Command::Play:
                return Play(o);
            case Command::Repair:
                return Repair(o);
            default:
                return kExitUsage;
        }
    } catch (const Failure& failure) {
        PrintError(failure.message);
        return failure.code;
    } catch (const std::exception& e) {
        PrintError(QString::fromLocal8Bit(e.what()));
        return kExitFailed;
    }
}
