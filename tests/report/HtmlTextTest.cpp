#include "report/HtmlText.h"

#include <gtest/gtest.h>

namespace {

using report::AppendJsonString;
using report::CleanUtf8;
using report::Html;

std::string Json(std::string_view value) {
  std::string out;
  AppendJsonString(out, value);
  return out;
}

TEST(HtmlText, MarkupInAValueStaysTextInElementsAndAttributes) {
  EXPECT_EQ(Html("<script>alert(1)</script>"), "&lt;script&gt;alert(1)&lt;/script&gt;");
  EXPECT_EQ(Html("\" onmouseover=\"alert(1)"), "&quot; onmouseover=&quot;alert(1)");
  EXPECT_EQ(Html("' onfocus='x'"), "&#39; onfocus=&#39;x&#39;");
  EXPECT_EQ(Html("a&amp;b"), "a&amp;amp;b");  // an entity in a value is text, not markup
  std::string cell;
  report::AppendCell(cell, "<b>", "num");
  EXPECT_EQ(cell, "<td class=\"num\">&lt;b&gt;</td>");
}

// A rating or a correlation to four places with the whole value in its tooltip; anything that is
// not wholly a number, a NUL and what follows it included, is shown as it stands.
TEST(HtmlText, ANumberCellShowsFourPlacesAndAnythingElseAsItStands) {
  const auto cell = [](const std::string &value) {
    std::string out;
    report::AppendFourPlacesCell(out, value);
    return out;
  };
  EXPECT_EQ(cell("0.912345678"), "<td class=\"num\" title=\"0.912345678\">0.9123</td>");
  EXPECT_EQ(cell("-1"), "<td class=\"num\" title=\"-1\">-1.0000</td>");
  EXPECT_EQ(cell(""), "<td class=\"num\"></td>");
  EXPECT_EQ(cell("0.5\"><b>"), "<td class=\"num\">0.5&quot;&gt;&lt;b&gt;</td>");
  EXPECT_EQ(cell(std::string("0.5\0<i>", 7)),
            "<td class=\"num\">" + report::Html(std::string("0.5\0<i>", 7)) + "</td>");
}

TEST(HtmlText, BytesBecomeValidUtf8) {
  EXPECT_EQ(CleanUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");            // valid UTF-8 kept
  EXPECT_EQ(CleanUtf8("caf\xE9"), "caf\xC3\xA9");                    // Latin-1 byte
  EXPECT_EQ(CleanUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");              // overlong form: two bytes
  EXPECT_EQ(CleanUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");  // a surrogate
  EXPECT_EQ(CleanUtf8("\xE2\x82"), "\xC3\xA2\xC2\x82");              // cut short
  EXPECT_EQ(CleanUtf8(std::string("a\0b\x1B\x7F", 5)),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(CleanUtf8("\xEF\xBF\xBE"), "\xEF\xBF\xBD");  // U+FFFE
  EXPECT_EQ(CleanUtf8("\t\r\n"), "\t\r\n");
  EXPECT_EQ(Html("\xE9<"), "\xC3\xA9&lt;");
}

TEST(HtmlText, JsonCannotLeaveItsScriptElement) {
  EXPECT_EQ(Json("</script><script>alert(1)</script>"),
            "\"\\u003c/script\\u003e\\u003cscript\\u003ealert(1)\\u003c/script\\u003e\"");
  EXPECT_EQ(Json("<!-- &"), "\"\\u003c!-- \\u0026\"");
  EXPECT_EQ(Json("\"\\\n\r\t"), "\"\\\"\\\\\\n\\r\\t\"");
  EXPECT_EQ(Json("a\xE2\x80\xA8"
                 "b\xE2\x80\xA9"),
            "\"a\\u2028b\\u2029\"");
  EXPECT_EQ(Json(std::string("\x01", 1)), "\"\xEF\xBF\xBD\"");
  EXPECT_EQ(Json("\xE9"), "\"\xC3\xA9\"");
}

}  // namespace
