// The sound card backends on the real ALSA library, through a configuration
// of this test's own: the card "Tone"'s capture PCM is the file plugin
// reading a generated tone file over a null PCM, and its playback PCM the
// file plugin writing to a file. Captured samples must be the file's,
// played samples must reach the file, bit for bit.

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <numbers>

#include "platform/media/core/engine_harness.h"
#include "platform/media/devices/alsa/alsacapture.h"
#include "platform/media/devices/alsa/audiooutput.h"
#include "platform/media/devices/pulse/pulsecapture.h"

namespace ronvix::media::test {
namespace {

using namespace com;

constexpr int kRate = 48000;
constexpr int kBlock = 4;  // 16-bit stereo.

// Keeps the first `wanted` bytes it receives. The null PCM under the file
// plugin delivers as fast as it is read, so everything after is dropped.
class PrefixSink final : public BaseFilter {
public:
    explicit PrefixSink(size_t wanted)
        : BaseFilter(RONVIX_GUID("{5E1F0003-0000-4000-8000-00000000AA03}")), m_wanted(wanted) {
        AddPin(std::make_unique<In>(*this));
    }
    IPin* Input() { return PinAt(0); }
    HRESULT OnReceive(BaseInputPin&, IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::lock_guard guard(m_lock);
        const size_t take =
            std::min(m_wanted - m_bytes.size(), size_t(sample->GetActualDataLength()));
        m_bytes.insert(m_bytes.end(), data, data + take);
        return S_OK;
    }
    std::vector<uint8_t> Bytes() {
        std::lock_guard guard(m_lock);
        return m_bytes;
    }
    bool Full() {
        std::lock_guard guard(m_lock);
        return m_bytes.size() == m_wanted;
    }

private:
    class In final : public BaseInputPin {
    public:
        explicit In(BaseFilter& filter) : BaseInputPin(filter, u"In") {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.majortype == MEDIATYPE_Audio ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
    };

    const size_t m_wanted;
    std::mutex m_lock;
    // Guarded by m_lock.
    std::vector<uint8_t> m_bytes;
};

// One card, "Tone", with capture and playback device 0.
AlsaCardApi OneCard() {
    AlsaCardApi api;
    api.next_card = [](int* card) {
        *card = *card < 0 ? 0 : -1;
        return 0;
    };
    api.open_control = [](int, void** ctl) {
        *ctl = reinterpret_cast<void*>(1);
        return 0;
    };
    api.card_info = [](void*, std::string* id, std::string* name) {
        *id = "Tone";
        *name = "Tone Card";
        return 0;
    };
    api.next_pcm_device = [](void*, int* device) {
        *device = *device < 0 ? 0 : -1;
        return 0;
    };
    api.pcm_info = [](void*, int, bool, std::string*) { return 0; };
    api.close_control = [](void*) {};
    return api;
}

class AlsaRealTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        const std::string dir = s_dir->path().toStdString();
        // Both plugin names the backends open, with the card and device as
        // arguments, as the system's own configuration has them.
        std::string config;
        for (const char* plugin : {"hw", "plughw"}) {
            const bool capture = std::string(plugin) == "hw";
            config += "pcm." + std::string(plugin) +
                      " {\n"
                      "  @args [ CARD DEV ]\n"
                      "  @args.CARD { type string }\n"
                      "  @args.DEV { type integer default 0 }\n"
                      "  type file\n"
                      "  slave.pcm { type null }\n"
                      "  format raw\n"
                      "  truncate true\n";
            config += "  file { @func concat strings [ \"" + dir + "/\" $CARD \"" +
                      (capture ? ".copy.raw" : ".played.raw") + "\" ] }\n";
            if (capture)
                config +=
                    "  infile { @func concat strings [ \"" + dir + "/\" $CARD \".in.raw\" ] }\n";
            config += "}\n";
        }
        QFile file(s_dir->filePath("asound.conf"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(config.data(), qint64(config.size()));
        file.close();
        qputenv("ALSA_CONFIG_PATH", file.fileName().toUtf8());
        // Whatever configuration an earlier test of this process loaded is
        // read again from the path above.
        snd_config_update_free_global();
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
        qunsetenv("ALSA_CONFIG_PATH");
        snd_config_update_free_global();
    }
    void TearDown() override {
        SetAlsaCaptureApi({});
        SetAlsaPlaybackApi({});
    }

    static QString Path(const char* name) { return s_dir->filePath(name); }

    static QTemporaryDir* s_dir;
};

QTemporaryDir* AlsaRealTest::s_dir = nullptr;

TEST_F(AlsaRealTest, CapturedSamplesAreTheCardsSamples) {
    // Two seconds of a 1 kHz tone on the left, a frame counter on the right.
    std::vector<uint8_t> tone(size_t(2 * kRate * kBlock));
    for (int i = 0; i < 2 * kRate; ++i) {
        const auto left =
            int16_t(std::lround(12000 * std::sin(2 * std::numbers::pi * 1000 * i / kRate)));
        const auto right = int16_t(i & 0x7FFF);
        std::memcpy(&tone[size_t(i) * kBlock], &left, 2);
        std::memcpy(&tone[size_t(i) * kBlock + 2], &right, 2);
    }
    QFile in(Path("Tone.in.raw"));
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    in.write(reinterpret_cast<const char*>(tone.data()), qint64(tone.size()));
    in.close();

    AlsaCaptureApi api = RealAlsaCaptureApi();
    api.cards = OneCard();
    SetAlsaCaptureApi(api);
    // No sound server answers (the real library finds none at this
    // address): the card is listed and captured through ALSA.
    qputenv("PULSE_SERVER", ("unix:" + Path("no-server")).toUtf8());
    SetPulseApi({});
    const std::vector<com::DeviceDescription> devices = AudioCaptureDevices();
    qunsetenv("PULSE_SERVER");
    SetPulseApi({});
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].friendly_name, "Tone Card");
    ComPtr<IBaseFilter> capture;
    ASSERT_EQ(devices[0].create(IBaseFilter::iid, capture.OutVoid()), S_OK);
    ComPtr<IPin> pin = PinNamed(capture.Get(), u"Capture");
    ASSERT_TRUE(pin);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
    AM_MEDIA_TYPE* first = nullptr;
    ASSERT_EQ(types->Next(1, &first, nullptr), S_OK) << "the probe of the file PCM failed";
    EXPECT_TRUE(SameType(*first, MediaType::Pcm(kRate, 16, 2).Get()));
    DeleteMediaType(first);

    const size_t wanted = size_t(kRate) * kBlock;  // The first second.
    ComPtr<PrefixSink> sink = MakeCom<PrefixSink>(wanted);
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ASSERT_EQ(graph->AddFilter(capture.Get(), u"Card"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(pin.Get(), sink->Input(), nullptr), S_OK);
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_TRUE(TestSink::Make()->WaitFor([&] { return sink->Full(); }));
    ASSERT_EQ(control->Stop(), S_OK);
    const std::vector<uint8_t> got = sink->Bytes();
    ASSERT_EQ(got.size(), wanted);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), tone.begin()))
        << "the captured samples differ from the tone file";
    graph->RemoveFilter(capture.Get());
    graph->RemoveFilter(sink.Get());
}

TEST_F(AlsaRealTest, PlayedSamplesReachTheCard) {
    AlsaPlaybackApi api = RealAlsaPlaybackApi();
    api.cards = OneCard();
    SetAlsaPlaybackApi(api);
    ComPtr<IBaseFilter> output;
    ASSERT_EQ(
        CreateAlsaCardOutput(ListAlsaCards(api.cards).at(0), IBaseFilter::iid, output.OutVoid()),
        S_OK);
    FilterHarness h(output);
    TestSource* source = h.AddSource({.types = {MediaType::Pcm(kRate, 16, 2)}});
    ASSERT_EQ(h.ConnectIn(source, u"Audio Input pin"), S_OK);
    ASSERT_EQ(h.Control()->Run(), S_OK);
    std::vector<uint8_t> played;
    for (int chunk = 0; chunk < 25; ++chunk) {
        std::vector<uint8_t> data(1920);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = uint8_t(i * 7 + size_t(chunk) * 13);
        ASSERT_EQ(source->Push(data), S_OK);  // Untimed: played at once.
        played.insert(played.end(), data.begin(), data.end());
    }
    ASSERT_EQ(h.Control()->Stop(), S_OK);  // Closes the device, which flushes the file.
    output = nullptr;
    h.Teardown();

    QFile file(Path("Tone.played.raw"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    ASSERT_EQ(size_t(written.size()), played.size());
    EXPECT_TRUE(std::equal(played.begin(), played.end(),
                           reinterpret_cast<const uint8_t*>(written.constData())));
}

}  // namespace
}  // namespace ronvix::media::test
