#pragma once

#include <string>

namespace testing_support {

// Parses a file with a real XML parser (xmllint, else Python's xml.etree); skips the test,
// saying why, where neither is installed.
void ExpectWellFormedXml(const std::string &path);

}  // namespace testing_support
