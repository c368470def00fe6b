#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/errortext.h"
#include "platform/com/guid.h"
#include "platform/com/oleauto.h"

using namespace ronvix::com;

TEST(Guid, RegistryFormAndBinaryLayoutRoundTrip) {
    constexpr GUID g = RONVIX_GUID("{4315d437-5B8C-11D0-BD3B-00A0C911CE86}");
    EXPECT_EQ(g.Data1, 0x4315D437u);
    EXPECT_EQ(g.Data2, 0x5B8C);
    EXPECT_EQ(g.Data3, 0x11D0);
    EXPECT_EQ(g.ToString(), "{4315D437-5B8C-11D0-BD3B-00A0C911CE86}");

    // First three groups little-endian, the last eight bytes as written.
    const std::array<uint8_t, 16> expected{0x37, 0xD4, 0x15, 0x43, 0x8C, 0x5B, 0xD0, 0x11,
                                           0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86};
    EXPECT_EQ(g.ToBytes(), expected);
    EXPECT_EQ(GUID::FromBytes(expected), g);
    EXPECT_EQ(GUID::Parse(g.ToString()), g);
}

TEST(Guid, MalformedTextFailsCleanly) {
    for (const char* bad :
         {"", "{}", "4315D437-5B8C-11D0-BD3B-00A0C911CE86", "{4315D437-5B8C-11D0-BD3B-00A0C911CE8}",
          "{4315D437-5B8C-11D0-BD3B-00A0C911CE866}", "{4315D437+5B8C-11D0-BD3B-00A0C911CE86}",
          "{4315D43G-5B8C-11D0-BD3B-00A0C911CE86}", "(4315D437-5B8C-11D0-BD3B-00A0C911CE86)"}) {
        EXPECT_FALSE(GUID::Parse(bad).has_value()) << bad;
    }
    EXPECT_FALSE(GUID::FromBytes(std::array<uint8_t, 15>{}).has_value());

    CLSID clsid = RONVIX_GUID("{11111111-1111-1111-1111-111111111111}");
    EXPECT_EQ(CLSIDFromString(u"{4315D437-5B8C-11D0-BD3B-00A0C911CE8\u00e9}", &clsid),
              CO_E_CLASSSTRING);
    EXPECT_EQ(clsid, CLSID_NULL);
    EXPECT_EQ(CLSIDFromString(nullptr, &clsid), CO_E_CLASSSTRING);
}

TEST(Guid, WideForms) {
    constexpr GUID g = RONVIX_GUID("{1B544C20-FD0B-11CE-8C63-00AA0044B51E}");
    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(g, buf, 38), 0);
    ASSERT_EQ(StringFromGUID2(g, buf, 39), 39);
    EXPECT_EQ(std::u16string(buf), u"{1B544C20-FD0B-11CE-8C63-00AA0044B51E}");
    CLSID back;
    ASSERT_EQ(CLSIDFromString(buf, &back), S_OK);
    EXPECT_EQ(back, g);
}

TEST(ErrorText, KnownCodesHaveTheirOwnTextAndTheBufferLimitHolds) {
    EXPECT_NE(ErrorText(VFW_E_NOT_CONNECTED), ErrorText(VFW_E_ALREADY_CONNECTED));
    EXPECT_NE(ErrorText(E_FAIL), ErrorText(MakeHr(0x80041234)));
    // File errors come through their Win32 code.
    EXPECT_NE(ErrorText(HResultFromErrno(ENOENT)), ErrorText(HResultFromErrno(EACCES)));
    for (HRESULT hr : {E_FAIL,
                       E_POINTER,
                       E_NOINTERFACE,
                       E_INVALIDARG,
                       E_OUTOFMEMORY,
                       VFW_E_CANNOT_CONNECT,
                       VFW_E_TYPE_NOT_ACCEPTED,
                       VFW_E_NOT_FOUND,
                       VFW_E_NOT_STOPPED,
                       VFW_E_WRONG_STATE,
                       VFW_E_NO_ALLOCATOR,
                       VFW_E_NOT_COMMITTED,
                       VFW_E_RUNTIME_ERROR,
                       VFW_E_FILE_TOO_SHORT,
                       VFW_E_INVALID_FILE_FORMAT,
                       VFW_S_DUPLICATE_NAME,
                       VFW_S_CANT_CUE,
                       VFW_S_STATE_INTERMEDIATE,
                       MK_E_NOOBJECT,
                       E_ABORT,
                       E_NOTIMPL,
                       E_UNEXPECTED,
                       STG_E_READFAULT})
        EXPECT_NE(ErrorText(hr), ErrorText(MakeHr(0x80041234))) << std::hex << hr;

    char buf[256];
    std::memset(buf, 'x', sizeof buf);
    DWORD n = AMGetErrorTextA(E_FAIL, buf, 10);
    EXPECT_EQ(n, 9u);
    EXPECT_EQ(std::strlen(buf), 9u);
    EXPECT_EQ(buf[10], 'x');
    EXPECT_EQ(AMGetErrorTextA(E_FAIL, buf, 0), 0u);
    EXPECT_EQ(AMGetErrorTextA(E_FAIL, buf, 255), ErrorText(E_FAIL).size());
}

TEST(ErrorText, ATextGivenACodeIsThatCodesTextAlwaysTheSameCode) {
    const HRESULT busy = ErrorWithText("The sound device \"USB Audio\" is in use by arecord.");
    EXPECT_TRUE(FAILED(busy));
    EXPECT_EQ(ErrorText(busy), "The sound device \"USB Audio\" is in use by arecord.");
    EXPECT_EQ(ErrorWithText("The sound device \"USB Audio\" is in use by arecord."), busy);
    const HRESULT other = ErrorWithText("Another text.");
    EXPECT_NE(other, busy);
    EXPECT_TRUE(HasGivenText(busy) && HasGivenText(other));
    EXPECT_FALSE(HasGivenText(E_FAIL) || HasGivenText(HResultFromErrno(ENOENT)) ||
                 HasGivenText(S_OK));
    EXPECT_EQ(ErrorText(busy), "The sound device \"USB Audio\" is in use by arecord.");
    // Cut to what AMGetErrorTextA can hand out, not inside a character.
    const HRESULT long_text = ErrorWithText(std::string(254, 'a') + "\xC3\xA9 and more");
    EXPECT_EQ(ErrorText(long_text), std::string(254, 'a'));
    // Every code of the range has one text at a time: after 256 more, the
    // oldest code says the newest text.
    for (int i = 0; i < 256; ++i)
        ErrorWithText("text " + std::to_string(i));
    EXPECT_NE(ErrorText(busy), "The sound device \"USB Audio\" is in use by arecord.");
}

TEST(OleAuto, BstrAndVariantConversions) {
    BSTR s = SysAllocString(u"Camera");
    EXPECT_EQ(SysStringLen(s), 6u);
    VARIANT a, b;
    a.vt = VT_BSTR;
    a.bstrVal = s;
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(b.bstrVal, a.bstrVal);
    EXPECT_EQ(std::u16string(b.bstrVal), u"Camera");

    VARIANT number;
    number.vt = VT_BSTR;
    number.bstrVal = SysAllocString(u" -42 ");
    VARIANT i4;
    ASSERT_EQ(VariantChangeType(&i4, &number, 0, VT_I4), S_OK);
    EXPECT_EQ(i4.lVal, -42);
    VARIANT u4;
    EXPECT_EQ(VariantChangeType(&u4, &number, 0, VT_UI4), DISP_E_OVERFLOW);
    EXPECT_EQ(VariantChangeType(&u4, &a, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(u4.vt, VT_EMPTY);

    VariantClear(&a);
    VariantClear(&b);
    VariantClear(&number);
    EXPECT_EQ(a.vt, VT_EMPTY);
    EXPECT_EQ(ToUtf8(ToUtf16("Caméra \xF0\x9F\x8E\xA5")), "Caméra \xF0\x9F\x8E\xA5");
}
