#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "../platform/media/core/engine_harness.h"
#include "mediagraph/device_enum.h"
#include "mediagraph/formdata.h"
#include "mediagraph/graph_util.h"
#include "mediagraph_test_util.h"
#include "platform/com/devices.h"
#include "platform/com/errortext.h"
#include "platform/com/moniker.h"
#include "platform/com/stream.h"
#include "platform/winui/dialogs.h"

namespace ronvix::mediagraph {
namespace {

using com::ComPtr;
using com::ULONG;
using media::IBaseFilter;

class ComponentsTest : public ::testing::Test {
protected:
    void SetUp() override { test::RegisterClasses(); }
    win::ScriptedDialogs dialogs;
};

// ------------------------------------------------------------ stored blocks

TEST_F(ComponentsTest, StoredBlocksMatchWhatThePlatformSaves) {
    for (const StoredFilter& stored : MainFormFilters()) {
        SCOPED_TRACE(stored.name);
        const QByteArray data = StoredMonikerData(stored.display_name);
        if (stored.display_name.isEmpty()) {
            EXPECT_EQ(data, QByteArray(4, '\0'));
            continue;
        }
        ComPtr<com::IMoniker> moniker;
        const std::u16string name = stored.display_name.toStdU16String();
        ASSERT_EQ(com::CreateDeviceMoniker(name, moniker.ReleaseAndGetAddressOf()), com::S_OK);
        TBaseFilter saved;
        saved.AssignMoniker(moniker.Get());
        EXPECT_EQ(saved.WriteData(), data);
    }
    const QByteArray splitter = StoredMonikerData(MainFormFilters()[7].display_name);
    ASSERT_EQ(splitter.size(), 202);
    EXPECT_EQ(uint8_t(splitter[20]), 178);  // N after the count and the class id
    EXPECT_EQ(splitter.mid(4, 4), QByteArray::fromHex("37D41543"));
}

TEST_F(ComponentsTest, PersistentMemoryDataInBothDirections) {
    TPersistentMemory block;
    block.ReadData(QByteArray(4, '\0'));
    EXPECT_EQ(block.BlockSize(), 0u);
    EXPECT_EQ(block.WriteData(), QByteArray(4, '\0'));
    block.ReadData(QByteArray::fromHex("03000000AABBCC"));
    EXPECT_EQ(block.BlockSize(), 3u);
    EXPECT_EQ(block.WriteData(), QByteArray::fromHex("03000000AABBCC"));
    block.Assign(block);
    EXPECT_EQ(block.WriteData(), QByteArray::fromHex("03000000AABBCC"));
    TPersistentMemory other;
    EXPECT_FALSE(block.SameContent(other));  // empty other never matches
    other.Assign(block);
    EXPECT_TRUE(block.SameContent(other));
    // A count larger than the data is damage, not a reason to allocate.
    EXPECT_THROW(block.ReadData(QByteArray::fromHex("FFFFFF7F00")), fw::Exception);
    EXPECT_EQ(block.BlockSize(), 0u);
    TFilterGraph not_a_block;
    try {
        block.AssignFrom(&not_a_block);
        FAIL() << "assigning another class must fail";
    } catch (const fw::EConvertError& e) {
        EXPECT_EQ(e.Message(),
                  QStringLiteral("Cannot assign a ronvix::mediagraph::TFilterGraph to a "
                                 "TPersistentMemory"));
    }
}

TEST_F(ComponentsTest, MonikersRoundTripThroughTheBlock) {
    TBaseFilter base;
    base.AssignMoniker(nullptr);
    EXPECT_FALSE(base.StoredMoniker());
    EXPECT_FALSE(base.BindFilter());
    ComPtr<com::IMoniker> moniker;
    const std::u16string name = MainFormFilters()[2].display_name.toStdU16String();
    com::CreateDeviceMoniker(name, moniker.ReleaseAndGetAddressOf());
    base.AssignMoniker(moniker.Get());
    ComPtr<com::IMoniker> loaded = base.StoredMoniker();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(com::DisplayNameOf(loaded.Get()), name);
    ComPtr<IBaseFilter> a = base.BindFilter();
    ComPtr<IBaseFilter> b = base.BindFilter();
    ASSERT_TRUE(a);
    EXPECT_NE(a, b);
}

TEST_F(ComponentsTest, FilterComponentsFollowTheirGraph) {
    QObject form;
    MainFormMedia media = CreateMainFormMedia(&form);
    ASSERT_TRUE(media.sync && media.VideoSourceFilter && media.Splitter);
    EXPECT_EQ(media.sync->FilterGraph(), media.CaptureGraph);
    EXPECT_EQ(media.VideoSourceFilter->FilterGraph(), nullptr);
    EXPECT_EQ(media.Splitter->FilterGraph(), media.OutGraph);
    EXPECT_EQ(media.CaptureGraph->Mode(), TFilterGraph::gmCapture);
    EXPECT_TRUE(media.OutGraph->GraphEdit());
    EXPECT_EQ(media.SampleGrabber->MediaType().WriteData(), GrabberMediaTypeData());

    // An empty block binds nothing: the graph simply lacks the filter.
    media.VideoSourceFilter->SetFilterGraph(media.CaptureGraph);
    media.VideoSourceFilter->SetFilterGraph(media.CaptureGraph);  // links once
    const int links = media.CaptureGraph->FilterLinkCount();
    media.CaptureGraph->SetActive(true);
    EXPECT_FALSE(media.VideoSourceFilter->Query<IBaseFilter>());
    ComPtr<IBaseFilter> first = media.sync->Query<IBaseFilter>();
    ASSERT_TRUE(first);
    EXPECT_EQ(media::FilterName(first.Get()), u"sync");
    media.CaptureGraph->SetActive(false);
    EXPECT_FALSE(media.sync->Query<IBaseFilter>());
    media.CaptureGraph->SetActive(true);
    EXPECT_NE(media.sync->Query<IBaseFilter>(), first);
    EXPECT_EQ(media.CaptureGraph->FilterLinkCount(), links);

    // Destroying the graph leaves the components unbound, with no call into
    // the dead graph at their own destruction.
    delete media.CaptureGraph;
    EXPECT_EQ(media.sync->FilterGraph(), nullptr);
    EXPECT_FALSE(media.sync->Query<IBaseFilter>());
}

// ---------------------------------------------------------- lists and checks

TEST_F(ComponentsTest, ResultsBecomeExceptionsWithThePlatformText) {
    EXPECT_EQ(CheckResult(com::S_FALSE), com::S_FALSE);
    try {
        CheckResult(com::E_FAIL);
        FAIL() << "E_FAIL must raise";
    } catch (const EDirectShowException& e) {
        EXPECT_EQ(e.ResultCode(), com::E_FAIL);
        EXPECT_EQ(e.Message(),
                  QString::fromStdString(com::ErrorText(com::E_FAIL)) + " ($80004005).");
    }
}

TEST_F(ComponentsTest, PinAndFilterListsAreSnapshotsWithCheckedAccess) {
    EXPECT_EQ(TPinList(nullptr).Count(), 0);
    EXPECT_EQ(TFilterList(nullptr).Count(), 0);
    ComPtr<IBaseFilter> grabber;
    com::CoCreateInstance(media::CLSID_SampleGrabber, nullptr, 1, IBaseFilter::iid,
                          grabber.OutVoid());
    TPinList pins(grabber.Get());
    ASSERT_EQ(pins.Count(), 2);
    EXPECT_THROW(pins.PinAt(2), fw::EListError);
    media::PIN_INFO info;
    pins.PinInfoAt(1, info);
    EXPECT_EQ(info.dir, media::PINDIR_OUTPUT);
    const ULONG held = media::test::RefCount(grabber.Get());
    pins.PinInfoAt(1, info);  // the first reference is released, not leaked
    EXPECT_EQ(media::test::RefCount(grabber.Get()), held);
    info.pFilter->Release();
    EXPECT_THROW(TPinList(nullptr).FirstPin(), fw::EListError);

    TFilterList none(nullptr);
    EXPECT_EQ(none.RemoveEntry(grabber.Get()), -1);
    EXPECT_EQ(ShowFilterPropertyPages(nullptr, grabber.Get(), 6), com::S_FALSE);
    EXPECT_EQ(ShowFilterPropertyPages(nullptr, nullptr, 0), com::S_FALSE);
    EXPECT_EQ(ShowFilterPropertyPages(nullptr, grabber.Get(), ppVFWCapFormat), com::E_NOINTERFACE);
}

// ---------------------------------------------------------- device enumerator

class DeviceEnumTest : public ComponentsTest {
protected:
    static constexpr com::GUID kCategory = RONVIX_GUID("{5E1F00AA-1234-4000-8000-00000000F00D}");
    void TearDown() override {
        for (auto id : m_providers)
            com::DeviceRegistry::Instance().RemoveProvider(id);
    }
    void Provide(std::vector<com::DeviceDescription> devices) {
        m_providers.push_back(com::DeviceRegistry::Instance().AddProvider(
            kCategory, com::ProviderKind::Virtual, [devices] { return devices; }));
    }
    std::vector<com::DeviceRegistry::ProviderId> m_providers;
};

TEST_F(DeviceEnumTest, ListsDevicesByPositionWithNamesAndClassIds) {
    TSysDevEnum empty(kCategory);
    EXPECT_EQ(empty.DeviceCount(), 0);
    EXPECT_FALSE(empty.DeviceMoniker(0));

    const com::CLSID clsid = RONVIX_GUID("{5E1F00AA-0000-4000-8000-000000000001}");
    const std::string long_name(300, 'n');
    Provide(
        {{"First", "", clsid, {}}, {long_name, "", com::CLSID_NULL, {}}, {"Third", "", clsid, {}}});
    TSysDevEnum devices(kCategory);
    ASSERT_EQ(devices.DeviceCount(), 3);
    EXPECT_EQ(devices.DeviceInfo(0).Name(), QStringLiteral("First"));
    EXPECT_EQ(devices.DeviceInfo(0).CLSID, clsid);
    EXPECT_EQ(devices.DeviceInfo(1).FriendlyNameLength, 255);
    EXPECT_EQ(devices.DeviceInfo(1).CLSID, com::CLSID_NULL);
    EXPECT_THROW(devices.DeviceInfo(3), fw::EListError);
    EXPECT_FALSE(devices.DeviceMoniker(-1));
    EXPECT_FALSE(devices.DeviceMoniker(3));
    ComPtr<com::IMoniker> third = devices.DeviceMoniker(2);
    ASSERT_TRUE(third);
    EXPECT_NE(com::DisplayNameOf(third.Get()).find(u"Third"), std::u16string::npos);

    devices.SelectCategory(kCategory);  // same entries, same order
    EXPECT_EQ(devices.DeviceInfo(2).Name(), QStringLiteral("Third"));
    devices.SelectCategory(com::CLSID_LegacyAmFilterCategory);
    EXPECT_GT(devices.DeviceCount(), 0);
    ComPtr<com::IMoniker> sw = devices.DeviceMoniker(0);
    ASSERT_TRUE(sw);
    EXPECT_EQ(com::DisplayNameOf(sw.Get()).rfind(u"@device:sw:", 0), 0u);
}

// ---------------------------------------------------------------- grabber

TEST_F(ComponentsTest, GrabberAcceptsItsTypeAndReportsBuffers) {
    TFilterGraph graph;
    TSampleGrabber grabber(nullptr, QStringLiteral("OutGrabber"));
    grabber.MediaType().ReadData(GrabberMediaTypeData());
    std::atomic<int> buffers{0};
    std::atomic<int> bytes{0};
    grabber.OnBuffer = [&](QObject* sender, double, void*, int length) {
        EXPECT_EQ(sender, &grabber);
        ++buffers;
        bytes += length;
        if (buffers == 2)
            throw fw::Exception(QStringLiteral("counter overflow"));
    };
    grabber.SetFilterGraph(&graph);
    graph.SetActive(true);
    ComPtr<IBaseFilter> filter = grabber.Query<IBaseFilter>();
    ASSERT_TRUE(filter);
    EXPECT_EQ(media::FilterName(filter.Get()), u"OutGrabber");

    auto builder = graph.Query<media::IGraphBuilder>();
    media::test::TestSource::Options yuy2;
    yuy2.types = {media::MediaType::Video(media::MEDIASUBTYPE_YUY2, 32, 16, 16)};
    auto wrong = media::test::TestSource::Make(yuy2);
    builder->AddFilter(wrong->Filter(), u"YUY2");
    TPinList pins(filter.Get());
    EXPECT_TRUE(com::FAILED(builder->ConnectDirect(wrong->Output(), pins.PinAt(0).Get(), nullptr)));

    media::test::TestSource::Options mjpg;
    mjpg.types = {media::MediaType::Video(media::MEDIASUBTYPE_MJPG, 32, 16, 24)};
    auto source = media::test::TestSource::Make(mjpg);
    builder->AddFilter(source->Filter(), u"MJPG");
    ASSERT_EQ(builder->ConnectDirect(source->Output(), pins.PinAt(0).Get(), nullptr), com::S_OK);
    ASSERT_TRUE(graph.Pause() || graph.State() != 0);
    graph.Play();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(source->Push(std::vector<uint8_t>(100, uint8_t(i))), com::S_OK);
    graph.Stop();
    EXPECT_EQ(buffers, 3);  // the failing handler did not stop the stream
    EXPECT_EQ(bytes, 300);
    test::DeliverPosted();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("counter overflow."));
    graph.SetActive(false);
    EXPECT_FALSE(grabber.Query<IBaseFilter>());
}

}  // namespace
}  // namespace ronvix::mediagraph
