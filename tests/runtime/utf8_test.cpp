// Counting and cutting UTF-8 text in characters.
#include <gtest/gtest.h>

#include "runtime/runtime.h"

TEST(Utf8Text, CountsAndCutsInCharactersNeverInsideOne) {
  EXPECT_EQ(rt::charCount("äpfel-Birnen-öü"), 15u);  // 18 bytes
  EXPECT_EQ(rt::charCount("€𝄞"), 2u);                 // 3 + 4 bytes
  EXPECT_EQ(rt::leftChars("Größe", 3), "Grö");
  EXPECT_EQ(rt::leftChars("€uro", 1), "€");
  EXPECT_EQ(rt::leftChars("ab", 5), "ab");
  EXPECT_EQ(rt::leftChars("ab", 0), "");
  EXPECT_EQ(rt::padRightChars("Größe", 7), "Größe  ");
  EXPECT_EQ(rt::padRightChars("äpfel-Birnen-öü-und-mehr", 15), "äpfel-Birnen-öü");
  EXPECT_EQ(rt::padRightChars("", 3), "   ");
}

TEST(Utf8Text, MalformedBytesAreReadOneAtATimeAndMarkedInvalid) {
  for (const char* bad : {"\x80", "\xC0\xAF", "\xC3", "\xED\xA0\x80", "\xE2\x82", "\xF4\x90\x80\x80", "\xFF"}) {
    const rt::Utf8Char c = rt::utf8At(bad, 0);
    EXPECT_FALSE(c.valid) << bad;
    EXPECT_EQ(c.length, 1u) << bad;
    EXPECT_EQ(c.code, static_cast<unsigned char>(bad[0])) << bad;
  }
  EXPECT_EQ(rt::charCount("a\xE2\x82"), 3u);
  EXPECT_EQ(rt::leftChars("\xE2\x82x", 1), "\xE2");
}

TEST(Utf8Text, EveryLengthIsWrittenAndReadBack) {
  std::string text;
  for (char32_t code : {U'A', U'é', U'€', U'𝄞'}) rt::appendUtf8(text, code);
  EXPECT_EQ(text, "Aé€𝄞");
  const rt::Utf8Char expected[] = {{U'A', 1, true}, {U'é', 2, true}, {U'€', 3, true}, {U'𝄞', 4, true}};
  std::size_t pos = 0;
  for (const rt::Utf8Char& e : expected) {
    const rt::Utf8Char c = rt::utf8At(text, pos);
    EXPECT_TRUE(c.valid);
    EXPECT_EQ(c.code, e.code);
    EXPECT_EQ(c.length, e.length);
    pos += c.length;
  }
}
