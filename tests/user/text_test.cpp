// UTF-8 <-> UTF-16 for what the host prints and reads.
#include "platform/user/text.h"

#include <gtest/gtest.h>

#include "platform/user/window_tree.h"

namespace wce::user {

TEST(UserText, EachBadUnitBecomesOneReplacementAndNoOverlongFormDecodes) {
    // An overlong '/' or NUL, an encoded surrogate, a cut sequence: none reads as a character.
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"
                          "a\xE0\x80\x80"
                          "b\xED\xA0\x80"
                          "c\xE6\x97"
                          "\xF0\x9F\x98\x80"),
              u"\uFFFD\uFFFDa\uFFFD\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFDc\uFFFD\uFFFD\U0001F600");
    const std::u16string lone{u'a', char16_t(0xDC00), char16_t(0xD800), u'\n', char16_t(0xD83D)};
    EXPECT_EQ(Utf16ToUtf8(lone), "a\uFFFD\uFFFD\n\uFFFD");
    EXPECT_EQ(Escaped(lone), "a\uFFFD\uFFFD\\n\uFFFD");
}

}  // namespace wce::user
