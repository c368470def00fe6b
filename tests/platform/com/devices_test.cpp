#include <gtest/gtest.h>

#include <atomic>

#include "platform/com/devices.h"
#include "platform/com/moniker.h"
#include "platform/com/object.h"
#include "platform/com/rot.h"

using namespace ronvix::com;

namespace {

constexpr GUID kTestCategory = RONVIX_GUID("{7E57CA7E-0000-4000-8000-000000000001}");

struct Filter : ComObject<IPersist> {
    explicit Filter(std::string n) : name(std::move(n)) {}
    HRESULT GetClassID(CLSID* c) override {
        *c = CLSID_NULL;
        return S_OK;
    }
    std::string name;
};

DeviceDescription Dev(std::string name, std::string identity = {}) {
    return DeviceDescription{name, std::move(identity),
                             RONVIX_GUID("{7E57CA7E-0000-4000-8000-0000000000F1}"),
                             [name](REFIID riid, void** out) {
                                 return MakeCom<Filter>(name)->QueryInterface(riid, out);
                             }};
}

// Adds providers for the test category and removes them at the end.
class DeviceEnumTest : public ::testing::Test {
protected:
    void Add(ProviderKind kind, DeviceProvider p) {
        m_ids.push_back(DeviceRegistry::Instance().AddProvider(kTestCategory, kind, std::move(p)));
    }
    ~DeviceEnumTest() override {
        for (auto id : m_ids)
            DeviceRegistry::Instance().RemoveProvider(id);
    }

    ComPtr<IEnumMoniker> EnumCategory(REFGUID category, HRESULT expected = S_OK) {
        ComPtr<ICreateDevEnum> devenum;
        EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC,
                                   ICreateDevEnum::iid, devenum.OutVoid()),
                  S_OK);
        ComPtr<IEnumMoniker> e;
        EXPECT_EQ(devenum->CreateClassEnumerator(category, e.ReleaseAndGetAddressOf(), 0),
                  expected);
        return e;
    }

    std::vector<std::string> Names(IEnumMoniker* e) {
        std::vector<std::string> out;
        IMoniker* m = nullptr;
        while (e->Next(1, &m, nullptr) == S_OK) {
            ComPtr<IMoniker> held = ComPtr<IMoniker>::Adopt(m);
            ComPtr<IPropertyBag> bag;
            EXPECT_EQ(m->BindToStorage(nullptr, nullptr, IPropertyBag::iid, bag.OutVoid()), S_OK);
            out.push_back(ReadBagString(bag.Get(), u"FriendlyName").value_or("?"));
        }
        return out;
    }

    std::vector<DeviceRegistry::ProviderId> m_ids;
};

}  // namespace

TEST_F(DeviceEnumTest, EmptyCategoryAnswersFalseWithNoEnumerator) {
    EXPECT_FALSE(EnumCategory(kTestCategory, S_FALSE));
    Add(ProviderKind::Virtual, [] { return std::vector<DeviceDescription>{}; });
    EXPECT_FALSE(EnumCategory(kTestCategory, S_FALSE));
}

TEST_F(DeviceEnumTest, BackendsComeBeforeVirtualDevicesAndOrderIsStable) {
    Add(ProviderKind::Virtual, [] { return std::vector{Dev("Test Camera")}; });
    Add(ProviderKind::Backend,
        []() -> std::vector<DeviceDescription> { throw std::runtime_error("probe failed"); });
    Add(ProviderKind::Backend, [] {
        return std::vector{Dev("USB Camera", "/dev/v4l/by-id/a"),
                           Dev("USB Camera", "/dev/v4l/by-id/b")};
    });
    auto e = EnumCategory(kTestCategory);
    ASSERT_TRUE(e);
    EXPECT_EQ(Names(e.Get()),
              (std::vector<std::string>{"USB Camera", "USB Camera", "Test Camera"}));
    EXPECT_EQ(Names(EnumCategory(kTestCategory).Get()), Names(EnumCategory(kTestCategory).Get()));
}

TEST_F(DeviceEnumTest, NextSkipAndReset) {
    Add(ProviderKind::Virtual, [] { return std::vector{Dev("A"), Dev("B"), Dev("C")}; });
    auto e = EnumCategory(kTestCategory);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Skip(2), S_OK);
    EXPECT_EQ(Names(e.Get()), std::vector<std::string>{"C"});
    EXPECT_EQ(e->Reset(), S_OK);
    IMoniker* batch[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(4, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(batch[3], nullptr);
    for (ULONG i = 0; i < fetched; ++i)
        batch[i]->Release();
    EXPECT_EQ(e->Next(2, batch, nullptr), E_POINTER);  // a count above 1 needs the fetched count
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(4), S_FALSE);
    IMoniker* m = reinterpret_cast<IMoniker*>(1);
    EXPECT_EQ(e->Next(1, &m, nullptr), S_FALSE);
    EXPECT_EQ(m, nullptr);
}

TEST_F(DeviceEnumTest, SameFriendlyNamesGetDistinctDisplayNamesThatBindToTheRightDevice) {
    Add(ProviderKind::Virtual, [] { return std::vector{Dev("Twin"), Dev("Twin")}; });
    auto e = EnumCategory(kTestCategory);
    ComPtr<IMoniker> first, second;
    ASSERT_EQ(e->Next(1, first.ReleaseAndGetAddressOf(), nullptr), S_OK);
    ASSERT_EQ(e->Next(1, second.ReleaseAndGetAddressOf(), nullptr), S_OK);
    EXPECT_NE(DisplayNameOf(first.Get()), DisplayNameOf(second.Get()));
    EXPECT_EQ(first->IsEqual(second.Get()), S_FALSE);
    EXPECT_EQ(DisplayNameOf(first.Get()),
              u"@device:cm:{7E57CA7E-0000-4000-8000-000000000001}\\Twin");
    EXPECT_EQ(DisplayNameOf(second.Get()),
              u"@device:cm:{7E57CA7E-0000-4000-8000-000000000001}\\Twin #2");
}

TEST_F(DeviceEnumTest, BindMakesANewInstanceAndFailsOnceTheDeviceIsGone) {
    auto present = std::make_shared<std::atomic<bool>>(true);
    Add(ProviderKind::Backend, [present] {
        return *present ? std::vector{Dev("Capture Card", "pci-0000:03:00.0")}
                        : std::vector<DeviceDescription>{};
    });
    auto e = EnumCategory(kTestCategory);
    ComPtr<IMoniker> m;
    ASSERT_EQ(e->Next(1, m.ReleaseAndGetAddressOf(), nullptr), S_OK);
    EXPECT_EQ(DisplayNameOf(m.Get()),
              u"@device:pnp:pci-0000:03:00.0\\{7E57CA7E-0000-4000-8000-000000000001}");
    ComPtr<IPersist> a, b;
    ASSERT_EQ(m->BindToObject(nullptr, nullptr, IPersist::iid, a.OutVoid()), S_OK);
    ASSERT_EQ(m->BindToObject(nullptr, nullptr, IPersist::iid, b.OutVoid()), S_OK);
    EXPECT_NE(a.Get(), b.Get());

    *present = false;
    ComPtr<IPersist> c;
    EXPECT_EQ(m->BindToObject(nullptr, nullptr, IPersist::iid, c.OutVoid()), MK_E_NOOBJECT);
    // The enumerated moniker still describes what was listed.
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(m->BindToStorage(nullptr, nullptr, IPropertyBag::iid, bag.OutVoid()), S_OK);
    EXPECT_EQ(ReadBagString(bag.Get(), u"FriendlyName"), "Capture Card");
    EXPECT_EQ(ReadBagString(bag.Get(), u"CLSID"), "{7E57CA7E-0000-4000-8000-0000000000F1}");
}

TEST_F(DeviceEnumTest, GeneralFilterCategoryListsRegisteredClassesNamingIt) {
    constexpr CLSID clsid = RONVIX_GUID("{7E57CA7E-0000-4000-8000-0000000000A1}");
    ClassRegistry::Instance().Register(
        {clsid, "Listed Filter", nullptr, MERIT_NORMAL, {CLSID_LegacyAmFilterCategory}});
    auto e = EnumCategory(CLSID_LegacyAmFilterCategory);
    ASSERT_TRUE(e);
    bool found = false;
    IMoniker* m = nullptr;
    while (e->Next(1, &m, nullptr) == S_OK) {
        if (DisplayNameOf(m) ==
            u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{7E57CA7E-0000-4000-8000-"
            u"0000000000A1}")
            found = true;
        m->Release();
    }
    EXPECT_TRUE(found);
    ClassRegistry::Instance().Unregister(clsid);
}

TEST(RunningObjectTable, RegisterFindRevokeWithItemMonikers) {
    ComPtr<IRunningObjectTable> rot;
    ASSERT_EQ(GetRunningObjectTable(0, rot.ReleaseAndGetAddressOf()), S_OK);
    auto object = MakeCom<Filter>("graph");
    ComPtr<IMoniker> name, same_other_case;
    ASSERT_EQ(CreateItemMoniker(u"!", u"FilterGraph 00000000DEADBEEF pid 1A2B",
                                name.ReleaseAndGetAddressOf()),
              S_OK);
    ASSERT_EQ(CreateItemMoniker(u"!", u"filtergraph 00000000deadbeef PID 1a2b",
                                same_other_case.ReleaseAndGetAddressOf()),
              S_OK);
    EXPECT_EQ(DisplayNameOf(name.Get()), u"!FilterGraph 00000000DEADBEEF pid 1A2B");

    ULONG refs_before = object->RefCountForTest();
    DWORD cookie = 0;
    ASSERT_EQ(rot->Register(0, object.Get(), name.Get(), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_GT(object->RefCountForTest(), refs_before);  // the table keeps the object alive
    EXPECT_EQ(rot->IsRunning(same_other_case.Get()), S_OK);
    ComPtr<IPersist> bound;
    ASSERT_EQ(same_other_case->BindToObject(nullptr, nullptr, IPersist::iid, bound.OutVoid()),
              S_OK);
    EXPECT_EQ(bound.Get(), static_cast<IPersist*>(object.Get()));
    bound = nullptr;

    DWORD second = 0;
    EXPECT_EQ(rot->Register(0, object.Get(), same_other_case.Get(), &second),
              MK_S_MONIKERALREADYREGISTERED);
    EXPECT_NE(second, cookie);
    EXPECT_EQ(rot->Revoke(second), S_OK);
    EXPECT_EQ(rot->Revoke(cookie), S_OK);
    EXPECT_EQ(rot->Revoke(cookie), E_INVALIDARG);
    EXPECT_EQ(object->RefCountForTest(), refs_before);
    EXPECT_EQ(rot->IsRunning(name.Get()), S_FALSE);
    EXPECT_EQ(name->BindToObject(nullptr, nullptr, IPersist::iid, bound.OutVoid()), MK_E_NOOBJECT);
    EXPECT_EQ(GetRunningObjectTable(1, rot.ReleaseAndGetAddressOf()), E_INVALIDARG);
}
