// Any bytes as a JSON access-log line, read by templates and presets: never a read outside
// what the parser holds, never a fault that is not counted.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FormatFuzzChecks.h"

namespace {

const std::vector<host::LogFormat> &Formats() {
  static const std::vector<host::LogFormat> formats = fuzz::CompileAll({
      "{\"time\":\"$time_iso8601\",\"addr\":\"$remote_addr\",\"user\":\"$remote_user\","
      "\"req\":\"$request\",\"status\":$status,\"bytes\":$body_bytes_sent,"
      "\"ref\":\"$http_referer\",\"ua\":\"$http_user_agent\","
      "\"xff\":\"$http_x_forwarded_for\",\"host\":\"$http_host\"}",
      "{\"c\":{\"ip\":\"$remote_addr\"},\"t\":$msec,\"r\":\"$request_method "
      "$request_uri\",\"tl\":\"$time_local\"}",
      "{\"Time\":%{%s}t,\"RemoteIP\":\"%a\",\"Request\":\"%U\",\"Query\":\"%q\","
      "\"Method\":\"%m\"}",
      "caddy",
      "traefik",
  });
  return formats;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string line(reinterpret_cast<const char *>(data), size);
  host::LogRecord record;  // one record for every format: its parser is reused
  for (const host::LogFormat &format : Formats()) {
    const host::ParseOutcome outcome = format.Parse(line, record);
    fuzz::CheckRecord(outcome, record, line, false);
  }
  return 0;
}
