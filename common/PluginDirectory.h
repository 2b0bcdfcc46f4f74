#pragma once

#include <string>
#include <string_view>

namespace common {

// The directory that holds the plug-in's shared object, without a trailing "/".
const std::string &PluginDirectory();

// A file of the plug-in's directory: "\KvVantrel.CFG" and "/KvCorvane.xml" both name a file
// directly inside it.
std::string PluginFile(std::string_view name);

// Puts the plug-in's files in a directory of its own (a test's or a benchmark's, which runs the
// plug-in's core without its shared object); an empty text goes back to the directory of the
// shared object.
void SetPluginDirectory(std::string directory);

}  // namespace common
