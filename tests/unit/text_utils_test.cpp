#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/gbk_text.h"
#include "platform/placeholders.h"
#include "platform/text_between.h"
#include "platform/text_encoding.h"
#include "platform/xml_escape.h"

namespace tavrin {
namespace {

// GBK 0x81 0x41 is one character whose second byte reads as ASCII "A".
const std::string kCharEndingInA = "\x81\x41";

TEST(TextBetween, FindsTheTextBetweenMarkers) {
  struct Case {
    std::string text, start, end;
    int position;
    bool ignoreCase;
    std::string expected;
  };
  const Case cases[] = {
      {"id [42] rest", "[", "]", 1, false, "42"},
      {"id [42 rest", "[", "]", 1, false, ""},
      {"] before [42", "[", "]", 1, false, ""},
      {"no start", "[", "]", 1, false, ""},
      {"[1] [2]", "[", "]", 2, false, "2"},
      {"[1] [2]", "[", "]", 0, false, "1"},
      {"[1]", "[", "]", 99, false, ""},
      {"<A>x</A>", "<a>", "</a>", 1, false, ""},
      {"<A>x</A>", "<a>", "</a>", 1, true, "x"},
      {"say \"hi\" now", utf8ToGbk("#引号"), utf8ToGbk("#引号"), 1, false, "hi"},
      {"key=\"v\"", utf8ToGbk("key=#引号"), utf8ToGbk("#引号"), 1, false, "v"},
      {kCharEndingInA + "B]x[A]", "AB", "]", 1, false, ""},
      {kCharEndingInA + "[A]", "[", "]", 1, false, "A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(textBetween(c.text, c.start, c.end, c.position, c.ignoreCase), c.expected)
        << c.text << " / " << c.start << " / " << c.end;
  }
}

TEST(FindText, MatchesOnlyOnCharacterBoundaries) {
  std::string text = kCharEndingInA + "A";
  EXPECT_EQ(findText(text, "A"), 2u);
  EXPECT_EQ(findText(text, "a", 0, true), 2u);
  EXPECT_EQ(findText(text, kCharEndingInA), 0u);
  EXPECT_EQ(findText(text, "B"), kTextNotFound);
  // A lead byte at the very end stands alone.
  EXPECT_EQ(findText("x\x81", "\x81"), 1u);
}

TEST(ReplacePlaceholders, ReplacesEveryOccurrenceWithoutRegardToCase) {
  EXPECT_EQ(replacePlaceholders("http://[IP]/a [ip] [Ip]", {{"[ip]", "10.0.0.1:80"}}),
            "http://10.0.0.1:80/a 10.0.0.1:80 10.0.0.1:80");
  // Pairs apply in turn, each to the result of the one before.
  EXPECT_EQ(replacePlaceholders("[a]", {{"[a]", "[b]"}, {"[b]", "done"}}), "done");
  // Values go in as they are; a value holding its own placeholder is not
  // replaced again.
  EXPECT_EQ(replacePlaceholders("[n]", {{"[n]", "<&[n]>"}}), "<&[n]>");
  EXPECT_EQ(replacePlaceholders("keep", {{"", "x"}}), "keep");
  EXPECT_EQ(replacePlaceholders(kCharEndingInA + "BC", {{"ab", "x"}}), kCharEndingInA + "BC");
}

TEST(FindEachText, FindsWhatFindTextFindsOneAfterAnother) {
  EXPECT_EQ(findEachText("aXaXa", "a"), (std::vector<size_t>{0, 2, 4}));
  EXPECT_EQ(findEachText("aaaa", "aa"), (std::vector<size_t>{0, 2}));
  EXPECT_EQ(findEachText("[IP][ip]", "[ip]", true), (std::vector<size_t>{0, 4}));
  EXPECT_EQ(findEachText("[IP][ip]", "[ip]"), (std::vector<size_t>{4}));
  // Never the second byte of a character, nor an empty needle.
  EXPECT_EQ(findEachText(kCharEndingInA + "A", "A"), (std::vector<size_t>{2}));
  EXPECT_EQ(findEachText("abc", ""), (std::vector<size_t>{}));
}

// A value can bring many placeholders into the text (a SOAP action name that
// a phone app sends is put into the answer's template): replacing them must
// not cost their number times the text's length, which for a body of a
// megabyte took hours.
TEST(ReplacePlaceholders, ManyPlaceholdersAreReplacedInOneWalk) {
  std::string many;
  for (int i = 0; i < 100000; ++i) many += "[sever]";
  const auto start = std::chrono::steady_clock::now();
  const std::string filled = replacePlaceholders("<u:[data]>", {{"[data]", many}, {"[SEVER]", "s"}});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(filled, "<u:" + std::string(100000, 's') + ">");
}

TEST(XmlEscape, EscapesAndUnescapesTheFiveCharacters) {
  EXPECT_EQ(escapeXmlChars("a&b"), "a&amp;b");
  EXPECT_EQ(escapeXmlChars("&amp;"), "&amp;amp;");
  EXPECT_EQ(escapeXmlChars("<x a=\"1\" b='2'>"), "&lt;x a=&quot;1&quot; b=&apos;2&apos;&gt;");
  EXPECT_EQ(unescapeXmlChars("&lt;x a=&quot;1&quot; b=&apos;2&apos;&gt;"), "<x a=\"1\" b='2'>");
  EXPECT_EQ(unescapeXmlChars("&amp;lt;"), "&lt;");
  EXPECT_EQ(unescapeXmlChars("&#38; &nbsp; & &amp"), "&#38; &nbsp; & &amp");
  std::string gbk = utf8ToGbk("电视&机");
  EXPECT_EQ(unescapeXmlChars(escapeXmlChars(gbk)), gbk);
}

TEST(TrimText, RemovesAsciiAndFullWidthSpacesOnly) {
  const std::string fullWidth = utf8ToGbk("　");
  ASSERT_EQ(fullWidth, "\xA1\xA1");
  EXPECT_EQ(trimText("  a b  "), "a b");
  EXPECT_EQ(trimText(fullWidth + " a" + fullWidth), "a");
  EXPECT_EQ(trimText("\ta\r\n"), "\ta\r\n");
  EXPECT_EQ(trimText("   "), "");
  // "\xB0\xA1" is one character; its second byte and the next lead byte are
  // no full-width space.
  EXPECT_EQ(trimText("\xB0\xA1\xA1"), "\xB0\xA1\xA1");
}

TEST(TextEncoding, ConvertsBetweenUtf8AndGbk) {
  EXPECT_EQ(utf8ToGbk("电视"), "\xB5\xE7\xCA\xD3");
  EXPECT_EQ(gbkToUtf8("\xB5\xE7\xCA\xD3"), "电视");
  EXPECT_EQ(utf8ToGbk(""), "");
  // Characters GBK lacks and broken bytes each become one "?".
  EXPECT_EQ(utf8ToGbk("a\xF0\x9F\x98\x80" "b"), "a?b");
  EXPECT_EQ(utf8ToGbk("a\xFF" "b\xE7"), "a?b?");
  EXPECT_EQ(gbkToUtf8("a\x81"), "a?");
  // The result ends at the first zero character.
  EXPECT_EQ(utf8ToGbk(std::string("ab\0cd", 5)), "ab");
}

TEST(TextEncoding, EncodesWithATerminatingZero) {
  EXPECT_EQ(encodeUtf8WithZero("abc"), std::string("abc\0", 4));
  EXPECT_EQ(encodeUtf8WithZero(utf8ToGbk("电视")), std::string("电视\0", 7));
  EXPECT_EQ(encodeUtf8WithZero(""), "");
}

}  // namespace
}  // namespace tavrin
