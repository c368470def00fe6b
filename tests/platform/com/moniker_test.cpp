#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/classregistry.h"
#include "platform/com/devices.h"
#include "platform/com/moniker.h"
#include "platform/com/object.h"
#include "platform/com/stream.h"

using namespace ronvix::com;

namespace {

std::vector<uint8_t> SaveMoniker(IMoniker* m) {
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(OleSaveToStream(m, stream.Get()), S_OK);
    return ReadWholeStream(stream.Get());
}

HRESULT LoadMoniker(const std::vector<uint8_t>& bytes, ComPtr<IMoniker>& out) {
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateMemoryStream(bytes, stream.ReleaseAndGetAddressOf()), S_OK);
    return OleLoadFromStream(stream.Get(), IMoniker::iid, out.OutVoid());
}

ComPtr<IMoniker> Moniker(std::u16string_view name) {
    ComPtr<IMoniker> m;
    EXPECT_EQ(CreateDeviceMoniker(name, m.ReleaseAndGetAddressOf()), S_OK);
    return m;
}

constexpr char16_t kSplitterName[] =
    u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{1B544C20-FD0B-11CE-8C63-00AA0044B51E}";

}  // namespace

TEST(MemoryStream, GrowsSeeksAndSharesBytesWithClones) {
    ComPtr<IStream> s;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, s.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IStream> refused;
    EXPECT_EQ(
        CreateStreamOnHGlobal(reinterpret_cast<void*>(1), TRUE, refused.ReleaseAndGetAddressOf()),
        E_INVALIDARG);
    EXPECT_FALSE(refused);
    uint64_t pos = 0;
    ASSERT_EQ(s->Seek(4, STREAM_SEEK_SET, &pos), S_OK);
    ASSERT_EQ(s->Write("abc", 3, nullptr), S_OK);
    STATSTG st;
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize, 7u);  // the gap before the write is zero-filled
    EXPECT_EQ(ReadWholeStream(s.Get()), (std::vector<uint8_t>{0, 0, 0, 0, 'a', 'b', 'c'}));

    EXPECT_EQ(s->Seek(-8, STREAM_SEEK_END, &pos), STG_E_INVALIDFUNCTION);
    ASSERT_EQ(s->Seek(-2, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos, 5u);
    ComPtr<IStream> clone;
    ASSERT_EQ(s->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
    char buf[8] = {};
    ULONG read = 0;
    EXPECT_EQ(clone->Read(buf, 8, &read), S_OK);  // a short read at the end is not an error
    EXPECT_EQ(std::string(buf, read), "bc");
    ASSERT_EQ(s->SetSize(2), S_OK);
    ASSERT_EQ(clone->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize, 2u);
    EXPECT_EQ(clone->Read(buf, 8, &read), S_OK);
    EXPECT_EQ(read, 0u);
}

TEST(DeviceMonikerPersistence, SplitterBlockIsExactly198Bytes) {
    auto bytes = SaveMoniker(Moniker(kSplitterName).Get());
    ASSERT_EQ(bytes.size(), 198u);
    const uint8_t clsid[16] = {0x37, 0xD4, 0x15, 0x43, 0x8C, 0x5B, 0xD0, 0x11,
                               0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86};
    std::vector<uint8_t> expected(clsid, clsid + 16);
    for (uint8_t b : {178, 0, 0, 0})
        expected.push_back(b);
    const char* ascii =
        "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{1B544C20-FD0B-11CE-8C63-00AA0044B51E}";
    ASSERT_EQ(std::strlen(ascii), 88u);
    for (const char* p = ascii; *p; ++p) {
        expected.push_back(static_cast<uint8_t>(*p));
        expected.push_back(0);
    }
    expected.push_back(0);
    expected.push_back(0);
    EXPECT_EQ(bytes, expected);
}

TEST(DeviceMonikerPersistence, RoundTripKeepsTheDisplayName) {
    for (std::u16string_view name :
         {std::u16string_view(kSplitterName),
          std::u16string_view(
              u"@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\Default DirectSound Device"),
          std::u16string_view(
              u"@device:pnp:/dev/v4l/by-id/"
              u"usb-Cam\u00e9ra-video-index0\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}")}) {
        auto bytes = SaveMoniker(Moniker(name).Get());
        ComPtr<IMoniker> loaded;
        ASSERT_EQ(LoadMoniker(bytes, loaded), S_OK);
        EXPECT_EQ(DisplayNameOf(loaded.Get()), name);
        EXPECT_EQ(loaded->IsEqual(Moniker(name).Get()), S_OK);
        EXPECT_EQ(SaveMoniker(loaded.Get()), bytes);
    }
}

TEST(DeviceMonikerPersistence, TruncatedOrGarbledBlocksLoadAsNothing) {
    auto good = SaveMoniker(Moniker(kSplitterName).Get());
    // Every truncation fails, and never by reading past the end.
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(n));
        ComPtr<IMoniker> m;
        EXPECT_TRUE(FAILED(LoadMoniker(cut, m))) << n;
        EXPECT_FALSE(m) << n;
    }
    auto corrupt = [&](size_t offset, uint8_t value) {
        auto b = good;
        b[offset] = value;
        ComPtr<IMoniker> m;
        HRESULT hr = LoadMoniker(b, m);
        EXPECT_FALSE(m && FAILED(hr));
        return hr;
    };
    EXPECT_EQ(corrupt(0, 0x38), REGDB_E_CLASSNOTREG);  // another class id
    EXPECT_TRUE(FAILED(corrupt(16, 179)));             // odd count
    EXPECT_TRUE(FAILED(corrupt(19, 0x7F)));            // a huge count
    EXPECT_TRUE(FAILED(corrupt(196, 'x')));            // no terminating zero
    EXPECT_TRUE(FAILED(corrupt(40, 0)));               // a zero inside the name
    EXPECT_EQ(corrupt(20, 'X'), MK_E_SYNTAX);          // not a device name
}

TEST(DeviceMoniker, ParsesOnlyTheThreeShapes) {
    EXPECT_TRUE(ParseDeviceDisplayName(kSplitterName));
    auto pnp =
        ParseDeviceDisplayName(u"@device:pnp:hw:CARD=PCH\\{33D9A762-90C8-11D0-BD43-00A0C911CE86}");
    ASSERT_TRUE(pnp);
    EXPECT_EQ(pnp->item, u"hw:CARD=PCH");
    EXPECT_EQ(pnp->category, CLSID_AudioInputDeviceCategory);
    for (std::u16string_view bad :
         {u"", u"@device:", u"@device:cm:", u"@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\",
          u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\NotAGuid",
          u"@device:xx:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Name",
          u"device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\Name",
          u"@device:pnp:\\{33D9A762-90C8-11D0-BD43-00A0C911CE86}"}) {
        ComPtr<IMoniker> m;
        ULONG eaten = 99;
        std::u16string z(bad);
        EXPECT_EQ(MkParseDisplayName(nullptr, z.c_str(), &eaten, m.ReleaseAndGetAddressOf()),
                  MK_E_SYNTAX);
        EXPECT_EQ(eaten, 0u);
        EXPECT_FALSE(m);
    }
}

namespace {
struct Dummy : ComObject<IPersist> {
    HRESULT GetClassID(CLSID* c) override {
        *c = RONVIX_GUID("{D0D0D0D0-0000-0000-0000-000000000001}");
        return S_OK;
    }
};
}  // namespace

TEST(DeviceMoniker, SoftwareFilterBindsANewInstanceEachTimeWhileRegistered) {
    constexpr CLSID clsid = RONVIX_GUID("{D0D0D0D0-0000-0000-0000-000000000001}");
    ClassRegistry::Instance().Register(
        {clsid,
         "Dummy Filter",
         [](REFIID riid, void** out) { return MakeCom<Dummy>()->QueryInterface(riid, out); },
         MERIT_NORMAL,
         {CLSID_LegacyAmFilterCategory}});
    auto m = Moniker(
        u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{D0D0D0D0-0000-0000-0000-"
        u"000000000001}");
    ComPtr<IPersist> a, b;
    ASSERT_EQ(m->BindToObject(nullptr, nullptr, IPersist::iid, a.OutVoid()), S_OK);
    ASSERT_EQ(m->BindToObject(nullptr, nullptr, IPersist::iid, b.OutVoid()), S_OK);
    EXPECT_NE(a.Get(), b.Get());
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(m->BindToStorage(nullptr, nullptr, IPropertyBag::iid, bag.OutVoid()), S_OK);
    EXPECT_EQ(ReadBagString(bag.Get(), u"friendlyname"), "Dummy Filter");
    EXPECT_EQ(ReadBagString(bag.Get(), u"CLSID"), clsid.ToString());

    ClassRegistry::Instance().Unregister(clsid);
    ComPtr<IPersist> c;
    EXPECT_EQ(m->BindToObject(nullptr, nullptr, IPersist::iid, c.OutVoid()), MK_E_NOOBJECT);
    EXPECT_FALSE(c);
    EXPECT_EQ(m->BindToStorage(nullptr, nullptr, IPropertyBag::iid, bag.OutVoid()), MK_E_NOOBJECT);
}

TEST(DeviceMoniker, StoredDefaultSoundDeviceNameBindsToNothing) {
    auto m =
        Moniker(u"@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\Default DirectSound Device");
    ComPtr<IUnknown> obj;
    EXPECT_EQ(m->BindToObject(nullptr, nullptr, IUnknown::iid, obj.OutVoid()), MK_E_NOOBJECT);
    EXPECT_FALSE(obj);
}

TEST(PropertyBag, ReadsConvertWritesStayInTheBag) {
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(CreatePropertyBag({{"Count", "12"}}, bag.ReleaseAndGetAddressOf()), S_OK);
    VARIANT v;
    v.vt = VT_I4;
    ASSERT_EQ(bag->Read(u"count", &v, nullptr), S_OK);
    EXPECT_EQ(v.lVal, 12);
    VARIANT missing;
    missing.vt = VT_I4;
    missing.lVal = 7;
    EXPECT_EQ(bag->Read(u"Nope", &missing, nullptr), E_INVALIDARG);
    EXPECT_EQ(missing.lVal, 7);
    VARIANT w;
    w.vt = VT_I4;
    w.lVal = 5;
    ASSERT_EQ(bag->Write(u"Nope", &w), S_OK);
    VARIANT r;
    ASSERT_EQ(bag->Read(u"NOPE", &r, nullptr), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 5);
}
