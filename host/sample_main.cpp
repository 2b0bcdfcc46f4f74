// flowdeck-sample: writes a generated access log of a made-up site to standard output.
#include <charconv>
#include <cstring>
#include <iostream>
#include <string>

#include "SampleTraffic.h"

namespace {

bool ReadNumber(const char *text, auto &value) {
  auto [end, error] = std::from_chars(text, text + std::strlen(text), value);
  return error == std::errc() && *end == '\0';
}

}  // namespace

int main(int argc, char **argv) {
  host::SampleOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = value != nullptr;
    if (arg == "--seed" && ok)
      ok = ReadNumber(value, options.seed);
    else if (arg == "--humans" && ok)
      ok = ReadNumber(value, options.humans);
    else if (arg == "--crawlers" && ok)
      ok = ReadNumber(value, options.crawlers);
    else if (arg == "--scanners" && ok)
      ok = ReadNumber(value, options.scanners);
    else if (arg == "--steady" && ok)
      ok = ReadNumber(value, options.steadyClients);
    else if (arg == "--hours" && ok)
      ok = ReadNumber(value, options.hours);
    else if (arg == "--lines" && ok)
      ok = ReadNumber(value, options.minimumLines);
    else if (arg == "--no-probe")
      options.probe = false, ok = true, --i;
    else
      ok = false;
    if (!ok) {
      std::cerr << "usage: flowdeck-sample [--seed N] [--humans N] [--crawlers N] [--scanners N]\n"
                   "                       [--steady N] [--hours H] [--lines N] [--no-probe]\n";
      return 2;
    }
    ++i;
  }
  std::ios::sync_with_stdio(false);
  host::WriteSampleLog(std::cout, options);
  return 0;
}
