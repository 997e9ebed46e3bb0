// The process heap and the bounded string helpers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/kernel/heap.h"
#include "platform/kernel/host/faults.h"
#include "platform/kernel/strings.h"

using namespace wce::kernel;

TEST(KernelHeap, ResizeKeepsContentsAndFailureKeepsTheBlock) {
    HANDLE heap = GetProcessHeap();
    auto* p = static_cast<char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 16));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(HeapSize(heap, 0, p), 16u);
    EXPECT_EQ(p[15], 0);
    std::memcpy(p, "walk-frame-data!", 16);
    struct Row {
        SIZE_T size;
    } rows[] = {{4096}, {8}, {100000}, {1}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.size);
        auto* q = static_cast<char*>(HeapReAlloc(heap, 0, p, r.size));
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(HeapSize(heap, 0, q), r.size);
        EXPECT_EQ(std::memcmp(q, "walk-frame-data!", std::min<SIZE_T>(r.size, 8)), 0);
        p = q;
    }
    {
        FaultScope faults;
        faults.Fail(HostOp::Realloc, 1, ENOMEM);
        EXPECT_EQ(HeapReAlloc(heap, 0, p, 1 << 20), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_EQ(HeapSize(heap, 0, p), 1u);
        EXPECT_EQ(p[0], 'w');
        faults.Fail(HostOp::Realloc, 1, ENOMEM, true);
        EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
        EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
    }
    auto* z = static_cast<char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, p, 64));
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(z[63], 0);
    EXPECT_TRUE(HeapFree(heap, 0, z));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
    EXPECT_EQ(HeapSize(heap, 0, nullptr), static_cast<SIZE_T>(-1));
}

TEST(KernelStrings, BoundedCopyCatAndPrintfTruncateSafely) {
    struct Row {
        const char* what;
        size_t cch;
        HRESULT (*run)(LPWSTR, size_t);
        HRESULT hr;
        std::u16string out;
    } rows[] = {
        {"copy fits", 6, [](LPWSTR d, size_t n) { return StringCchCopyW(d, n, u"hello"); }, S_OK,
         u"hello"},
        {"copy truncated", 5, [](LPWSTR d, size_t n) { return StringCchCopyW(d, n, u"hello"); },
         STRSAFE_E_INSUFFICIENT_BUFFER, u"hell"},
        {"copy n", 10, [](LPWSTR d, size_t n) { return StringCchCopyNW(d, n, u"hello", 2); }, S_OK,
         u"he"},
        {"cat", 10,
         [](LPWSTR d, size_t n) {
             StringCchCopyW(d, n, u"ab");
             return StringCchCatW(d, n, u"cd");
         },
         S_OK, u"abcd"},
        {"cat truncated", 4,
         [](LPWSTR d, size_t n) {
             StringCchCopyW(d, n, u"ab");
             return StringCchCatW(d, n, u"cd");
         },
         STRSAFE_E_INSUFFICIENT_BUFFER, u"abc"},
        {"counter", 20,
         [](LPWSTR d, size_t n) { return StringCchPrintfW(d, n, u"%d / %d", 7, 12345); }, S_OK,
         u"7 / 12345"},
        {"counter max", 20,
         [](LPWSTR d, size_t n) { return StringCchPrintfW(d, n, u"%d / %d", 99999999, 99999999); },
         S_OK, u"99999999 / 99999999"},
        {"counter overflow", 20,
         [](LPWSTR d, size_t n) {
             return StringCchPrintfW(d, n, u"%d / %d", -2147483647 - 1, 2147483647);
         },
         STRSAFE_E_INSUFFICIENT_BUFFER, u"-2147483648 / 21474"},
        {"mixed", 32,
         [](LPWSTR d, size_t n) {
             return StringCchPrintfW(d, n, u"%s=%u%c%%%03d", u"k", 42u, u'!', 7);
         },
         S_OK, u"k=42!%007"},
        {"zero capacity", 0, [](LPWSTR d, size_t n) { return StringCchCopyW(d, n, u"x"); },
         STRSAFE_E_INVALID_PARAMETER, u"#"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        WCHAR buf[40];
        std::fill(std::begin(buf), std::end(buf), u'#');
        buf[1] = 0;
        EXPECT_EQ(r.run(buf, r.cch), r.hr);
        EXPECT_EQ(std::u16string(buf), r.out);
        if (r.cch > 0) {
            EXPECT_EQ(buf[r.cch], u'#');  // nothing written past the capacity
        }
    }
}

TEST(KernelStrings, ComparisonsAndSearch) {
    EXPECT_EQ(lstrlenW(u"abc"), 3);
    EXPECT_EQ(lstrlenW(nullptr), 0);
    EXPECT_LT(lstrcmpW(u"abc", u"abd"), 0);
    EXPECT_EQ(lstrcmpiW(u"[Product]", u"[PRODUCT]"), 0);
    EXPECT_NE(lstrcmpW(u"[Product]", u"[PRODUCT]"), 0);
    EXPECT_GT(lstrcmpiW(u"b", u"A"), 0);
    LPCWSTR s = u"key=name=x";
    EXPECT_EQ(wcsrchr16(s, u'='), s + 8);
}
