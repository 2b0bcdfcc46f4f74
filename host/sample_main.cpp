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

constexpr const char *kUsage =
    "usage: flowdeck-sample [--seed N] [--humans N] [--crawlers N] [--scanners N]\n"
    "                       [--steady N] [--random N] [--jitter J] [--random-hits N]\n"
    "                       [--refreshers N] [--hours H] [--lines N] [--no-probe]\n"
    "Writes a generated Combined access log of a made-up shop to standard output: people\n"
    "browsing with asset bursts, crawlers, scanners, clients on one URL at a steady pace with\n"
    "1% jitter, clients on one URL whose delay is drawn from (1 - J) to (1 + J) times a\n"
    "period of 2 to 30 s (J 0.5 unless --jitter), people reloading one page by hand 40 times,\n"
    "and a script trying the admin login every 5 seconds.\n";

int main(int argc, char **argv) {
  host::SampleOptions options;
  int i = 1;
  while (i < argc) {
    const std::string arg = argv[i++];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--no-probe") {
      options.probe = false;
      continue;
    }
    const char *value = i < argc ? argv[i++] : nullptr;
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
    else if (arg == "--random" && ok)
      ok = ReadNumber(value, options.randomClients);
    else if (arg == "--jitter" && ok)
      ok = ReadNumber(value, options.randomJitter) && options.randomJitter >= 0 &&
           options.randomJitter < 1;
    else if (arg == "--random-hits" && ok)
      ok = ReadNumber(value, options.randomHits);
    else if (arg == "--refreshers" && ok)
      ok = ReadNumber(value, options.refreshers);
    else if (arg == "--hours" && ok)
      ok = ReadNumber(value, options.hours);
    else if (arg == "--lines" && ok)
      ok = ReadNumber(value, options.minimumLines);
    else
      ok = false;
    if (!ok) {
      std::cerr << kUsage;
      return 2;
    }
  }
  std::ios::sync_with_stdio(false);
  host::WriteSampleLog(std::cout, options);
  return 0;
}
