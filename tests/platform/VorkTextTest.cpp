#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "VorkException.h"
#include "VorkLocaleFactory.h"
#include "VorkStringUtilities.h"
#include "zuacs64.h"

using namespace VorkSupport;
using S = VorkStringUtilities;

TEST(VorkText, WidenReplacesEachInvalidUnitAndKeepsTheRest) {
    EXPECT_EQ(S::widen("abc"), u"abc");
    EXPECT_EQ(S::widen("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), u"\u00E9\u20AC\U0001F600");
    EXPECT_EQ(S::widen(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(S::widen("a\xFF"
                       "b"),
              u"a\uFFFDb"); // impossible byte
    EXPECT_EQ(S::widen("a\x80\x80"
                       "b"),
              u"a\uFFFD\uFFFDb");                     // stray continuations
    EXPECT_EQ(S::widen("\xC0\xAF"), u"\uFFFD\uFFFD"); // overlong
    EXPECT_EQ(S::widen("\xED\xA0\x80"
                       "x"),
              u"\uFFFD\uFFFD\uFFFDx");                                    // encoded surrogate
    EXPECT_EQ(S::widen("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD"); // above U+10FFFF
    EXPECT_EQ(S::widen("\xE2\x82"
                       "x"),
              u"\uFFFDx");                            // truncated in the middle
    EXPECT_EQ(S::widen("x\xF0\x9F\x98"), u"x\uFFFD"); // truncated at the end
}

TEST(VorkText, NarrowPairsSurrogatesAndReplacesUnpairedOnes) {
    EXPECT_EQ(S::narrow(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(S::narrow(u"\u00E9\u0800\uFFFF"), "\xC3\xA9\xE0\xA0\x80\xEF\xBF\xBF");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0xD83D, 0};
    EXPECT_EQ(S::narrow(lone), "a\xEF\xBF\xBD"
                               "b\xEF\xBF\xBD\xEF\xBF\xBD");
    const std::string sample = "Bundle \xC3\xBC\xF0\x9F\x98\x80";
    EXPECT_EQ(S::narrow(S::widen(sample, VorkLocaleFactory::getDefaultLocale())), sample);
}

TEST(VorkText, WidenPartialCarriesACharacterSplitBetweenBlocks) {
    const std::string text = "a\xF0\x9F\x98\x80"
                             "b\xC3\xA9";
    // Every split point gives the same text as converting in one go.
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        std::string carry;
        std::u16string out = S::widenPartial(text.substr(0, cut), carry);
        out += S::widenPartial(text.substr(cut), carry);
        EXPECT_EQ(out, S::widen(text)) << cut;
        EXPECT_TRUE(carry.empty()) << cut;
    }
    std::string carry;
    EXPECT_EQ(S::widenPartial("x\xE2\x82", carry), u"x");
    EXPECT_EQ(carry, "\xE2\x82");
    // The next block does not complete it: the broken start is replaced.
    EXPECT_EQ(S::widenPartial("y", carry), u"\uFFFDy");
    EXPECT_EQ(S::widenPartial("\xFF", carry), u"\uFFFD");
    EXPECT_TRUE(carry.empty());
}

TEST(VorkText, TolowerFoldsAsciiOnly) {
    EXPECT_EQ(S::tolower("UPDATE \xC3\x9C Zz", VorkLocaleFactory::getDefaultLocale()), "update \xC3\x9C zz");
}

TEST(VorkText, ControlCharactersAreTheC0SetAndDelete) {
    EXPECT_FALSE(S::hasControlCharacter("plimo zuacmd=resume \xC3\x9C ~"));
    for (const char* text : {"a\tb", "a\nb", "\x1F", "x\x7F"}) EXPECT_TRUE(S::hasControlCharacter(text)) << text;
}

TEST(HostText, Ucs2ToUtf8KeepsTheSizeContract) {
    const char16_t text[] = {u'A', 0x00E9, 0xD83D, 0xDE00, 0xDC00, 0};
    const std::string expected = "A\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD";
    uint32_t size = 0;
    ASSERT_EQ(ZCSUCS2StrToUTF8Str(nullptr, &size, text), 0);
    EXPECT_EQ(size, expected.size() + 1);
    std::string buffer(size + 4, '#');
    uint32_t capacity = size;
    ASSERT_EQ(ZCSUCS2StrToUTF8Str(buffer.data(), &capacity, text), 0);
    EXPECT_EQ(std::string(buffer.c_str()), expected);
    EXPECT_EQ(buffer.substr(size), "####");

    std::string small(8, '#');
    uint32_t smallCapacity = 4;
    EXPECT_NE(ZCSUCS2StrToUTF8Str(small.data(), &smallCapacity, text), 0);
    EXPECT_EQ(smallCapacity, expected.size() + 1);
    EXPECT_EQ(small.substr(4), "####"); // nothing past the capacity

    EXPECT_NE(ZCSUCS2StrToUTF8Str(nullptr, nullptr, text), 0);
    EXPECT_NE(ZCSUCS2StrToUTF8Str(nullptr, &size, nullptr), 0);
    const char16_t empty[] = {0};
    ASSERT_EQ(ZCSUCS2StrToUTF8Str(nullptr, &size, empty), 0);
    EXPECT_EQ(size, 1u);
}
