#include "run/RequestFields.h"

#include <charconv>

#include "StreamFields.h"

namespace host {

namespace {

flowdeck_text Text(std::string_view value) {
  return flowdeck_text{value.data(), value.size()};
}

}  // namespace

const flowdeck_text *RequestFields::Build(const LogRecord &record, std::string_view lockValue,
                                          std::string_view serverName) {
  char digits[32];
  auto [end, error] =
      std::to_chars(digits, digits + sizeof digits, static_cast<long long>(record.time.Serial()));
  (void)error;
  serial_.assign(digits, end);

  key_.assign(record.client);
  if (options_.key == VisitorKey::kAddressAndAgent) key_.append(1, ' ').append(record.userAgent);

  std::string_view query;
  SplitTarget(record.target, path_, query);
  translated_.assign(options_.documentRoot);
  if (!translated_.empty() && translated_.back() == '/' && !path_.empty() && path_.front() == '/') {
    translated_.pop_back();
  }
  translated_.append(path_);

  const std::string_view server = !record.vhost.empty() ? record.vhost
                                  : !serverName.empty() ? serverName
                                                        : std::string_view(options_.serverName);
  const std::string_view port = record.port.empty() ? std::string_view("80") : record.port;
  using namespace common;
  fields_[kAction] = Text(record.method);
  fields_[kArrivalSerial] = Text(serial_);
  fields_[kKey] = Text(key_);
  fields_[kCountry] = Text({});
  fields_[kResolvedAddr] = Text(record.client);
  fields_[kRemoteAddr] = Text(record.client);
  fields_[kRemoteHost] = Text(record.client);
  fields_[kAuthUser] = Text(record.authUser);
  fields_[kPathInfo] = Text(path_);
  fields_[kPathTranslated] = Text(translated_);
  fields_[kQueryString] = Text(query);
  fields_[kServerName] = Text(server);
  fields_[kServerPort] = Text(port);
  fields_[kUserAgent] = Text(record.userAgent);
  fields_[kShieldLink] = Text({});
  fields_[kShieldUnLink] = Text({});
  fields_[kLocked] = Text(lockValue);
  fields_[kLocalHost] = Text(server);
  fields_[kReferrer] = Text(record.referrer);
  return fields_;
}

ActionFields::ActionFields(std::string_view action) {
  fields_[common::kAction] = Text(action);
}

ActionFields &ActionFields::Set(size_t field, std::string_view value) {
  fields_[field] = Text(value);
  return *this;
}

}  // namespace host
