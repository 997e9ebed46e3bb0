// ANSI to UTF-16 conversion.
#include "platform/kernel/codepage.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/kernel/device.h"

using namespace wce::kernel;

namespace {
// Each test sets the code page it converts with; the device the others expect comes back after.
class KernelCodePage : public ::testing::Test {
  protected:
    ~KernelCodePage() override { ConfigureDevice(saved_); }
    const DeviceConfig saved_ = CurrentDevice();
};
}  // namespace

TEST_F(KernelCodePage, ConvertsJapaneseAndReplacesInvalidBytes) {
    DeviceConfig c;
    c.codePage = 932;
    ConfigureDevice(c);
    struct Row {
        UINT cp;
        std::string in;
        std::u16string out;
    } rows[] = {
        {CP_ACP, "\x93\xfa\x96\x7b\x8c\xea", u"日本語"},  // CP932 double-byte
        {CP_ACP, "ABC\xb1\xb2", u"ABCｱｲ"},                // half-width katakana
        {CP_ACP, "[PRODUCT]", u"[PRODUCT]"},
        {CP_ACP, "a\x81 b", u"a\xFFFD b"},  // lead byte, bad trail
        {CP_ACP, "x\xa0y", u"x\xFFFDy"},
        {CP_ACP, "end\x93", u"end\xFFFD"},  // truncated at the end
        {CP_UTF8, "\xe6\x97\xa5\xff!", u"日\xFFFD!"},
        {CP_UTF8, "\xf0\x9f\x98\x80", u"\xD83D\xDE00"},
        {1252, "caf\xe9 \x80", u"café €"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.in);
        WCHAR buf[64];
        int n = MultiByteToWideChar(r.cp, 0, r.in.c_str(), -1, buf, 64);
        ASSERT_EQ(n, static_cast<int>(r.out.size()) + 1);
        EXPECT_EQ(std::u16string(buf), r.out);
        EXPECT_EQ(MultiByteToWideChar(r.cp, 0, r.in.c_str(), -1, nullptr, 0), n);
    }
}

TEST_F(KernelCodePage, OutputIsBoundedAndBadArgumentsFail) {
    ConfigureDevice(DeviceConfig{});
    WCHAR buf[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcdef", -1, buf, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buf[3], u'#');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcdef", 3, buf, 3), 3);  // no terminator asked
    EXPECT_EQ(std::u16string(buf, 3), u"abc");
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, buf, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "a", -1, buf, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    // A NUL inside a counted string ends nothing: it converts like any other byte.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\0b", 3, buf, 4), 3);
    EXPECT_EQ(buf[2], u'b');
}
