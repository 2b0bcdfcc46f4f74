#include "SampleDay.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include "input/LogReader.h"
#include "sample/SampleTraffic.h"

namespace bench {

const std::string &SampleDay(int millions) {
  static std::map<int, std::string> written;
  std::string &path = written[millions];
  if (path.empty()) {
    path = (std::filesystem::temp_directory_path() /
            ("flowdeck-bench-" + std::to_string(millions) + "m.log"))
               .string();
    if (!std::filesystem::exists(path)) {
      // Written by a child: the generator's memory would otherwise stay with this process and
      // count as the peak memory of every command it starts.
      const pid_t child = fork();
      if (child == 0) {
        std::ofstream out(path + ".part");
        host::SampleOptions options;
        options.minimumLines = int64_t{1'000'000} * millions;
        options.hours = 24;
        options.steadyClients = 20;
        host::WriteSampleLog(out, options);
        out.close();
        _exit(out && std::rename((path + ".part").c_str(), path.c_str()) == 0 ? 0 : 1);
      }
      int status = 0;
      if (child < 0 || waitpid(child, &status, 0) != child || status != 0) {
        throw std::runtime_error(path + ": the sample day could not be written");
      }
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
