// Pure path and name rules, without disk access.
#include "platform/kernel/ns/paths.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/kernel/errors.h"

using namespace wce::kernel;

namespace {

std::u16string Joined(const paths::Components& c) {
    std::u16string s;
    for (size_t i = 0; i < c.count; ++i) s += u"\\" + std::u16string(c.items[i]);
    return s.empty() ? u"\\" : s;
}

std::string Narrow(std::u16string_view s) {
    return std::string(s.begin(), s.end());
}

}  // namespace

TEST(KernelPaths, NormalizeResolvesDotsWithoutClimbingAboveRoot) {
    struct Row {
        std::u16string in;
        DWORD err;
        std::u16string out;
    } rows[] = {
        {u"\\", ERROR_SUCCESS, u"\\"},
        {u"\\a\\b\\", ERROR_SUCCESS, u"\\a\\b"},
        {u"\\a\\.\\b", ERROR_SUCCESS, u"\\a\\b"},
        {u"\\a\\..\\b", ERROR_SUCCESS, u"\\b"},
        {u"\\..\\..\\etc\\passwd", ERROR_SUCCESS, u"\\etc\\passwd"},
        {u"\\Storage Card\\..\\..\\x", ERROR_SUCCESS, u"\\x"},
        {u"\\a\\\\b", ERROR_SUCCESS, u"\\a\\b"},
        {u"\\...\\b", ERROR_SUCCESS, u"\\...\\b"},
        {u"", ERROR_INVALID_NAME, u"\\"},
        {u"relative\\x", ERROR_INVALID_NAME, u"\\"},
        {u"C:\\x", ERROR_INVALID_NAME, u"\\"},
        {u"\\" + std::u16string(258, u'a'), ERROR_SUCCESS, u"\\" + std::u16string(258, u'a')},
        {u"\\" + std::u16string(259, u'a'), ERROR_FILENAME_EXCED_RANGE, u"\\"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(Narrow(r.in).substr(0, 40));
        paths::Components c;
        EXPECT_EQ(Win32Of(paths::Normalize(r.in, c)), r.err);
        if (r.err == ERROR_SUCCESS) {
            EXPECT_EQ(Narrow(Joined(c)), Narrow(r.out));
        }
    }
}

TEST(KernelPaths, PatternMatchingIsCaseInsensitiveWithDeviceStarDotStar) {
    struct Row {
        std::u16string pattern, name;
        bool match;
    } rows[] = {
        {u"*.*", u"README", true},
        {u"*.*", u"a.b.c", true},
        {u"*", u".profile", true},
        {u"*.txt", u"A.TXT", true},
        {u"*.txt", u"a.txt.bak", false},
        {u"?.ini", u"x.INI", true},
        {u"?.ini", u"xy.ini", false},
        {u"SETUP.INI", u"setup.ini", true},
        {u"a*b*c", u"aXXbYYc", true},
        {u"a*b*c", u"aXXbYY", false},
        {u"ｓｅｔｕｐ*", u"ＳＥＴＵＰ.ini", true},
        {u"Ä*", u"äpfel", true},
        {u"д*", u"Дом", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(Narrow(r.pattern) + " vs " + Narrow(r.name));
        EXPECT_EQ(paths::MatchPattern(r.pattern, r.name), r.match);
    }
}

TEST(KernelPaths, FoldingPairsCasesButLeavesOtherCharactersAlone) {
    struct Row {
        char16_t a, b;
        bool equal;
    } rows[] = {
        {u'a', u'A', true},  {u'z', u'Z', true},   {u'é', u'É', true},  {u'ÿ', u'Ÿ', true},
        {u'ā', u'Ā', true},  {u'ĺ', u'Ĺ', true},   {u'ž', u'Ž', true},  {u'ω', u'Ω', true},
        {u'ё', u'Ё', true},  {u'ｚ', u'Ｚ', true}, {u'÷', u'×', false}, {u'あ', u'ア', false},
        {u'[', u'{', false}, {u'1', u'1', true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.a));
        EXPECT_EQ(paths::FoldedEqual(std::u16string(1, r.a), std::u16string(1, r.b)), r.equal);
    }
}

TEST(KernelNames, HostNamesRoundTripExactly) {
    struct Row {
        std::string host;
        std::u16string device;
    } rows[] = {
        {"readme.txt", u"readme.txt"},
        {"\xE6\x97\xA5\xE6\x9C\xAC.txt", u"日本.txt"},
        {"bad\xFF\xFE", u"bad\xDCFF\xDCFE"},
        {"\xC3", u"\xDCC3"},                      // truncated sequence
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},  // encoded surrogate
        {"\xC0\xAF", u"\xDCC0\xDCAF"},            // overlong '/'
        {"a:b*c?\"<>|\\",
         u"a\xF03A"
         u"b\xF02A"
         u"c\xF03F\xF022\xF03C\xF03E\xF07C\xF05C"},
        {"\xEF\x80\xBA", u"\xDCEF\xDC80\xDCBA"},  // a host U+F03A would collide
        {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},    // non-BMP: two units
        {"\xEF\x81\x81", u"\xF041"},              // private use outside the mapping
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.host);
        std::u16string dev;
        paths::HostToDevice(r.host, dev);
        EXPECT_EQ(dev, r.device);
        std::string back;
        ASSERT_TRUE(paths::DeviceToHost(dev, back).ok());
        EXPECT_EQ(back, r.host);
    }
}

TEST(KernelNames, DeviceNamesAHostCannotHoldAreRefused) {
    const std::u16string rows[] = {u"a*b",     u"a?b", u"a:b", u"a/b",  u"x\xD800",
                                   u"\xDC10y", u"a|b", u"<x>", u"\"q\""};
    for (const auto& r : rows) {
        SCOPED_TRACE(Narrow(r));
        std::string out;
        EXPECT_EQ(Win32Of(paths::DeviceToHost(r, out)), ERROR_INVALID_NAME);
    }
}
