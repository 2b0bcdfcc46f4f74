#include "support/WellFormedXml.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace testing_support {

void ExpectWellFormedXml(const std::string &path) {
  if (std::system("command -v xmllint >/dev/null 2>&1") == 0) {
    EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0) << path;
  } else if (std::system("command -v python3 >/dev/null 2>&1") == 0) {
    const std::string parse =
        "python3 -c 'import sys, xml.etree.ElementTree as t; t.parse(sys.argv[1])' '" + path + "'";
    EXPECT_EQ(std::system(parse.c_str()), 0) << path;
  } else {
    GTEST_SKIP() << "neither xmllint nor python3 is installed: " << path << " was not parsed";
  }
}

}  // namespace testing_support
