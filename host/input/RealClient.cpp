#include "input/RealClient.h"

#include "base/IpAddress.h"

namespace host {

namespace {

bool IsSeparator(char c) {
  return c == ',' || c == ' ' || c == '\t';
}

}  // namespace

RealClient::RealClient(AddressRanges trusted) {
  if (trusted.Empty()) return;
  trusted_ = [ranges = std::move(trusted)](std::string_view address) {
    return ranges.Contains(address);
  };
}

std::string_view RealClient::Address(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    const std::string_view rest = close == std::string_view::npos ? "" : text.substr(close + 1);
    if (close == std::string_view::npos || (!rest.empty() && !rest.starts_with(':'))) return {};
    text = text.substr(1, close - 1);
  } else if (const size_t colon = text.find(':');
             colon != std::string_view::npos && text.rfind(':') == colon) {
    text = text.substr(0, colon);  // IPv4 with its port
  }
  return IpAddress::IsValid(text) ? text : std::string_view();
}

RealClient::Outcome RealClient::Apply(LogRecord &record) const {
  if (!trusted_ || record.forwardedFor.empty()) return Outcome::kConnecting;
  const std::string_view connecting = Address(record.client);
  if (connecting.empty() || !trusted_(connecting)) return Outcome::kConnecting;
  const std::string_view chain = record.forwardedFor;
  std::string_view client;
  for (size_t end = chain.size();;) {
    while (end > 0 && IsSeparator(chain[end - 1])) --end;
    if (end == 0) break;
    const size_t comma = chain.rfind(',', end - 1);
    const size_t start = comma == std::string_view::npos ? 0 : comma + 1;
    const std::string_view entry = Address(chain.substr(start, end - start));
    if (entry.empty()) return Outcome::kUnreadable;
    client = entry;
    if (!trusted_(entry)) break;
    end = start;
  }
  if (client.empty()) return Outcome::kUnreadable;  // nothing but commas and blanks
  record.client = client;
  return Outcome::kForwarded;
}

}  // namespace host
