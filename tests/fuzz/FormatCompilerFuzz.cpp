// Any bytes as a --log-format string: compiled, or refused with a position inside the text;
// what compiles reads lines of several kinds without a fault of its own.
#include <cstdint>
#include <string>
#include <string_view>

#include "FormatFuzzChecks.h"
#include "input/RealClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  host::LogFormat format;
  try {
    format = host::LogFormat::Compile(text);
  } catch (const host::FormatError &error) {
    fuzz::Check(error.position <= text.size());
    fuzz::Check(!host::LogFormat::Describe(text, error).empty());
    return 0;
  }
  static const std::string lines[] = {
      "203.0.113.9 - bob [07/Dec/2026:21:34:55 +0100] \"GET /a?b=1 HTTP/1.1\" 200 512 \"-\" "
      "\"Mozilla \\\"x\\\"\" \"10.0.0.1, 198.51.100.2\"",
      "shop.example:443 203.0.113.9 - - [07/Dec/2026:21:34:55.042 -0700] \"POST / HTTP/2.0\" 302 "
      "0",
      "{\"addr\":\"203.0.113.9\",\"time\":\"2026-12-07T21:34:55+01:00\",\"req\":\"GET / "
      "HTTP/1.1\",\"status\":200,\"ts\":1796675695.042,\"request\":{\"remote_ip\":\"1.2.3.4\","
      "\"method\":\"GET\",\"uri\":\"/\"}}",
      std::string(text),
  };
  const host::RealClient real([](std::string_view address) { return address[0] == '1'; });
  for (const std::string &line : lines) {
    host::LogRecord record;
    const host::ParseOutcome outcome = format.Parse(line, record);
    fuzz::CheckRecord(outcome, record, line,
                      format.Kind().find("JSON") == std::string::npos && format.Kind() != "caddy" &&
                          format.Kind() != "traefik");
    if (outcome != host::ParseOutcome::kMalformed) real.Apply(record);
  }
  return 0;
}
