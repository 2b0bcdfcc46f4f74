#include "SampleDay.h"

#include <filesystem>
#include <fstream>
#include <map>

#include "LogReader.h"
#include "SampleTraffic.h"

namespace bench {

const std::string &SampleDay(int millions) {
  static std::map<int, std::string> written;
  std::string &path = written[millions];
  if (path.empty()) {
    path = (std::filesystem::temp_directory_path() /
            ("flowdeck-bench-" + std::to_string(millions) + "m.log"))
               .string();
    if (!std::filesystem::exists(path)) {
      std::ofstream out(path);
      host::SampleOptions options;
      options.minimumLines = int64_t{1'000'000} * millions;
      options.hours = 24;
      options.steadyClients = 20;
      host::WriteSampleLog(out, options);
    }
  }
  return path;
}

uint64_t LinesIn(const std::string &path) {
  host::LogReader reader(path);
  std::string_view line;
  bool tooLong = false;
  uint64_t lines = 0;
  while (reader.Next(line, tooLong)) ++lines;
  return lines;
}

}  // namespace bench
