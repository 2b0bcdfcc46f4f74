#include "XmlText.h"

#include <gtest/gtest.h>

namespace {

std::string Escaped(std::string_view value) {
  std::string out;
  common::AppendXmlAttribute(out, value);
  return out;
}

TEST(XmlText, EscapesMarkupAndKeepsLineBreaksAsReferences) {
  EXPECT_EQ(Escaped("plain /a.htm?x=1"), "plain /a.htm?x=1");
  EXPECT_EQ(Escaped("x\" LCKD=\"True"), "x&quot; LCKD=&quot;True");
  EXPECT_EQ(Escaped("<script>&"), "&lt;script&gt;&amp;");
  EXPECT_EQ(Escaped("a\tb\r\nc"), "a&#9;b&#13;&#10;c");
  EXPECT_EQ(Escaped(std::string_view("\0\x1f\x7f", 3)), "\xEF\xBF\xBD\xEF\xBF\xBD\x7f");
}

TEST(XmlText, PassesValidUtf8AndReadsOtherBytesAsLatin1) {
  EXPECT_EQ(Escaped("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(Escaped("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");            // Latin-1 bytes
  EXPECT_EQ(Escaped("\xC0\xAF"), "\xC3\x80\xC2\xAF");              // overlong "/"
  EXPECT_EQ(Escaped("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");  // a surrogate
  EXPECT_EQ(Escaped("\xE2\x82"), "\xC3\xA2\xC2\x82");              // cut short
  EXPECT_EQ(Escaped("\xEF\xBF\xBE"), "\xEF\xBF\xBD");              // U+FFFE
}

// Long plain stretches pass several bytes at a time: any byte that needs care is still caught
// wherever it stands among them.
TEST(XmlText, FindsEveryByteThatNeedsCareAnywhereInALongValue) {
  const std::string plain = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int byte = 0; byte < 256; ++byte) {
    const std::string alone(1, static_cast<char>(byte));
    for (size_t at = 0; at <= plain.size(); ++at) {
      const std::string value = plain.substr(0, at) + alone + plain.substr(at);
      ASSERT_EQ(Escaped(value), plain.substr(0, at) + Escaped(alone) + plain.substr(at))
          << "byte " << byte << " at " << at;
    }
  }
}

}  // namespace
