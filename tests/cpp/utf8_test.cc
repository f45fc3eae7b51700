#include "korvel/text/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using korvel::text::first_chars;
using korvel::text::is_valid_utf8;
using korvel::text::lossy_utf8;

const std::string R = "\xEF\xBF\xBD";

struct LossyCase {
  std::string in;
  std::string out;
};

TEST(Utf8, LossyDecodingReplacesEachMaximalInvalidSubpart) {
  const LossyCase cases[] = {
      {"plain", "plain"},
      {"\xC3\xA9", "\xC3\xA9"},  // é stays
      {"a\xFF"
       "b",
       "a" + R + "b"},  // stray byte
      {"\xE2\x82", R},  // truncated 3-byte sequence is one subpart
      {"\xE2\x82"
       "x",
       R + "x"},
      {"\xED\xA0\x80", R + R + R},               // encoded surrogate: each byte invalid
      {"\xC0\xAF", R + R},                       // overlong
      {"\xF4\x90\x80\x80", R + R + R + R},       // above U+10FFFF
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // astral character stays
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lossy_utf8(c.in), c.out) << c.in;
    EXPECT_EQ(is_valid_utf8(c.in), c.in == c.out) << c.in;
  }
}

TEST(Utf8, FirstCharsNeverSplitsACharacter) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  EXPECT_EQ(first_chars(text, 0), "");
  EXPECT_EQ(first_chars(text, 2), "a\xC3\xA9");
  EXPECT_EQ(first_chars(text, 4), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(first_chars(text, 5), text);
  EXPECT_EQ(first_chars(text, 99), text);
}

}  // namespace
