#pragma once

#include <string>
#include <string_view>

namespace common {

// The directory that holds the plug-in's shared object, without a trailing "/".
const std::string &PluginDirectory();

// A file of the plug-in's directory: "\KvVantrel.CFG" and "/KvCorvane.xml" both name a file
// directly inside it.
std::string PluginFile(std::string_view name);

// Lets a test put the plug-in's files in a directory of its own; an empty text goes back to
// the directory of the shared object.
void SetPluginDirectoryForTests(std::string directory);

}  // namespace common
