#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "InPluginDirectory.h"
#include "KvError.h"
#include "clsShieldedResources.h"
#include "modVantrel.h"

namespace {

using vantrel::clsShieldedResources;

class Matching : public vantrel_testing::InPluginDirectory {};

TEST_F(Matching, MasksFitPathsPartByPartIgnoringCase) {
  clsShieldedResources definitions(vantrel::PluginDefinitions());
  definitions.Read();
  struct Case {
    const char *mask, *path;
    bool fits;
  };
  const Case cases[] = {
      {"/scripts/*.*", "/scripts/run.exe", true},
      {"/scripts/*.*", "/Scripts/RUN.EXE", true},
      {"/scripts/*.*", "/scripts/run", true},
      {"/scripts/*.*", "/scripts/sub/run.exe", false},
      {"/scripts/*.*", "/scripts/a.b.c", false},
      {"/scripts/*", "/scripts/run", true},
      {"/scripts/*", "/scripts/run.exe", false},
      {"/*/admin.asp", "/shop/admin.asp", true},
      {"/*/admin.asp", "/admin.asp", false},
      {"/data/report.*", "/data/report", true},
      {"/data/report.*", "/data/summary.pdf", false},
      {"/a*/x.htm", "/abc/x.htm", false},
      {"/x.tar.gz", "/x.tar.zip", true},
      {"/dir/*.*", "/dir/", true},
      {"/dir/*.htm", "/dir/", false},
      // Directory requests and masks ending in their separator simply do not fit.
      {"/dir/default.htm", "/dir/", false},
      {"/dir/*", "/dir/", false},
      {"/dir/", "/dir/", false},
      {"", "/a/b", false},
      {"", "", false},
      {"/é/x.htm", "/É/x.htm", false},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(definitions.ContainsResource(c.mask, c.path, ""), c.fits) << c.mask << " " << c.path;
  }
  EXPECT_TRUE(
      definitions.ContainsResource("C:\\site\\private\\*.*", "/other", "c:\\SITE\\private\\x.htm"));
  EXPECT_FALSE(definitions.ContainsResource("C:\\site\\*.*", "/site/x.htm", ""));
}

TEST_F(Matching, TheFirstFittingDefinitionWinsUnlessOneOfTheHostExemptsTheRequest) {
  Definitions(
      "<TRIPWIRE ACTIVE=\"1\" HOST=\"\" RESOURCE=\"/a/*.*\" SENSITIVITY=\"0\" STRENGTH=\"0\" "
      "INVERSE=\"0\" CARRYPARAMETERS=\"0\" />\r\n"
      "<TRIPWIRE ACTIVE=\"1\" HOST=\"shop\" RESOURCE=\"/a/x.htm\" SENSITIVITY=\"0\" "
      "STRENGTH=\"0\" INVERSE=\"1\" CARRYPARAMETERS=\"0\" />\r\n"
      "<TRIPWIRE ACTIVE=\"1\" HOST=\"SHOP\" RESOURCE=\"/dir/default.htm\" SENSITIVITY=\"0\" "
      "STRENGTH=\"0\" INVERSE=\"0\" CARRYPARAMETERS=\"0\" />\r\n"
      "<TRIPWIRE ACTIVE=\"1\" HOST=\"\" RESOURCE=\"/dir/*.*\" SENSITIVITY=\"0\" STRENGTH=\"0\" "
      "INVERSE=\"0\" CARRYPARAMETERS=\"0\" />\r\n"
      "<TRIPWIRE ACTIVE=\"1\" HOST=\"other\" RESOURCE=\"/dir/*\" SENSITIVITY=\"0\" STRENGTH=\"0\" "
      "INVERSE=\"1\" CARRYPARAMETERS=\"0\" />");
  clsShieldedResources definitions(vantrel::PluginDefinitions());
  definitions.Read();
  EXPECT_EQ(definitions.ProtectedResourceIndex("Shop", "/a/x.htm", ""), 0);
  EXPECT_EQ(definitions.ProtectedResourceIndex("other", "/a/x.htm", ""), 1);
  EXPECT_EQ(definitions.ProtectedResourceIndex("shop", "/a/y.htm", ""), 1);
  EXPECT_EQ(definitions.ProtectedResourceIndex("shop", "/DIR/default.HTM", ""), 3);
  // A directory request is held against every later definition too.
  EXPECT_EQ(definitions.ProtectedResourceIndex("shop", "/dir/", ""), 4);
  EXPECT_EQ(definitions.ProtectedResourceIndex("other", "/dir/x", ""), 0);
  EXPECT_EQ(definitions.ProtectedResourceIndex("shop", "/public/x.htm", ""), 0);
  TraceOn();
  EXPECT_EQ(definitions.ProtectedResourceIndex("other", "/b/x.htm", "c:\\b"), 0);
  EXPECT_EQ(testing_support::ReadLines(dir.File("KvVantrelTrace.LOG")),
            (std::vector<std::string>{
                "ContainsResource Mask=/a/*.*  PathInfo=/b/x.htm  PathTranslated=c:\\b",
                "ContainsResource Mask=/dir/*.*  PathInfo=/b/x.htm  PathTranslated=c:\\b",
                "ContainsResource Mask=/dir/*  PathInfo=/b/x.htm  PathTranslated=c:\\b"}));
}

TEST(DeflectString, FillsTheTemplatesWildcardsWithTheRequestedName) {
  struct Case {
    const char *path, *deflect, *result;
  };
  const Case cases[] = {
      {"/shop/cart.asp", "/sorry/default.htm", "/sorry/default.htm"},
      {"/shop/cart.asp", "/sorry/*.htm", "/sorry/cart.htm"},
      {"/shop/cart.asp", "/sorry/page.*", "/sorry/page.asp"},
      {"/shop/cart.asp", "/sorry/*.*", "/sorry/cart.asp"},
      {"/shop/cart.asp", "/sorry/*", "/sorry/*"},
      {"/shop/cart.asp", "/help.old/*.htm", "/help.old/asp.htm"},
      {"/shop/cart", "/sorry/*.htm", "/sorry/cart.htm"},
      {"/shop/cart", "/sorry/page.*", "/sorry/page."},
      {"/shop/a.tar.gz", "/sorry/*.*", "/sorry/a.tar.gz"},
      {"/shop/a*b.asp", "/sorry/*.*", "/sorry/a*b.asp"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(vantrel::BuildDeflectString(c.path, "", c.deflect), c.result) << c.deflect;
  }
  EXPECT_EQ(vantrel::BuildDeflectString("/x", "C:\\site\\shop\\cart.asp", "C:\\deflect\\*.htm"),
            "C:\\deflect\\cart.htm");
  for (const char *bad : {"/so*ry/x.htm", "*.htm"}) {
    try {
      vantrel::BuildDeflectString("/shop/cart.asp", "", bad);
      ADD_FAILURE() << bad;
    } catch (const common::KvError &error) {
      EXPECT_EQ(error.Number(), 5);
      EXPECT_EQ(error.Source(), "  Module: modVantrel  Function: BuildDeflectString\rKvVantrel");
    }
  }
}

TEST(ShieldRequestLine, EncodesWhatTheVisitorChoseAndKeepsTheConfiguredParts) {
  EXPECT_EQ(vantrel::ShieldRequest("/f d/", "x&.dll", "Add=1", "1.2.3.4", "sh op",
                                   "/a-._~/:@!$'()*,;\xE9%.htm", "/x/\r\n?.htm"),
            "GET /f d/x&.dll?Add=1&B=1.2.3.4&C=1&D=sh%20op&E=/a-._~/:@!$'()*,;%E9%25.htm"
            "&F=/x/%0D%0A%3F.htm&G=1&H=0&I=1\r\n");
  // Every other byte a visitor can send goes out escaped.
  const std::string kept =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/:@!$'()*,;";
  std::string everyByte, expected;
  for (int c = 0; c < 256; ++c) {
    everyByte.push_back(static_cast<char>(c));
    if (kept.find(static_cast<char>(c)) != std::string::npos) {
      expected.push_back(static_cast<char>(c));
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      expected.append(escape);
    }
  }
  EXPECT_EQ(vantrel::ShieldRequest("", "", "", everyByte, "", "", ""),
            "GET ?&B=" + expected + "&C=1&D=&E=&F=&G=1&H=0&I=1\r\n");
  EXPECT_EQ(vantrel::UnsignedToInteger(80), 80);
  EXPECT_EQ(vantrel::UnsignedToInteger(65535), -1);
  EXPECT_THROW(vantrel::UnsignedToInteger(65536), common::KvError);
}

}  // namespace
