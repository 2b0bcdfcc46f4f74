// Any bytes as a log line for formats of every kind of field: the matcher never reads
// outside the line, never takes a field out of another, and the real client it yields is the
// connecting address or an address of the chain.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FormatFuzzChecks.h"
#include "input/RealClient.h"

namespace {

const std::vector<host::LogFormat> &Formats() {
  static const std::vector<host::LogFormat> formats = fuzz::CompileAll({
      "$remote_addr - $remote_user [$time_local] \"$request\" $status $body_bytes_sent "
      "\"$http_referer\" \"$http_user_agent\" \"$http_x_forwarded_for\"",
      "$host:$server_port $remote_addr $time_iso8601 $msec $request_method "
      "$uri$is_args$args $server_protocol $request_time \"$http_user_agent\"",
      "%v %h %l %u %t \\\"%r\\\" %>s %b \\\"%{Referer}i\\\" \\\"%{User-agent}i\\\" "
      "%{X-Forwarded-For}i",
      "%a %{c}a [%{%d/%b/%Y:%H:%M:%S}t.%{msec_frac}t %{%z}t] %m %U%q %H %D",
      "%h [%{%a %b %e %I:%M:%S %p %Y %Z}t] %{sec}t \"%r\"",
      "[$time_local]$remote_addr \"$request\"",
  });
  return formats;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string line(reinterpret_cast<const char *>(data), size);
  const host::RealClient real([](std::string_view address) { return address.starts_with("10."); });
  for (const host::LogFormat &format : Formats()) {
    host::LogRecord record;
    const host::ParseOutcome outcome = format.Parse(line, record);
    fuzz::CheckRecord(outcome, record, line, true);
    if (outcome == host::ParseOutcome::kMalformed) continue;
    const std::string_view connecting = record.client;
    if (real.Apply(record) == host::RealClient::Outcome::kForwarded) {
      fuzz::Check(fuzz::Inside(record.client, record.forwardedFor));
      fuzz::Check(!host::RealClient::Address(record.client).empty());
    } else {
      fuzz::Check(record.client.data() == connecting.data());
    }
  }
  return 0;
}
