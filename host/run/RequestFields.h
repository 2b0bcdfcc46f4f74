#pragma once

#include <string>
#include <string_view>

#include <flowdeck/plugin.h>

#include "input/LogParser.h"

namespace host {

enum class VisitorKey { kAddress, kAddressAndAgent };

// How a log line becomes the plug-ins' nineteen fields.
struct FieldOptions {
  VisitorKey key = VisitorKey::kAddress;
  std::string serverName = "localhost";  // for lines without a vhost or a log's own name
  std::string documentRoot = "/var/www/html";
};

// The nineteen Stream fields of one request, built in buffers that are reused line after line.
class RequestFields {
 public:
  explicit RequestFields(const FieldOptions &options) : options_(options) {}

  // Fills the fields from a parsed request line; lockValue is "1" for a shielded address, and
  // serverName the host of a line without a vhost (empty: the run's default).
  const flowdeck_text *Build(const LogRecord &record, std::string_view lockValue,
                             std::string_view serverName = {});

 private:
  FieldOptions options_;
  flowdeck_text fields_[FLOWDECK_FIELD_COUNT]{};
  std::string serial_, key_, path_, translated_;
};

// Fields of a control action: the action, plus the value of one other field where given.
class ActionFields {
 public:
  explicit ActionFields(std::string_view action);
  ActionFields &Set(size_t field, std::string_view value);
  const flowdeck_text *Fields() const { return fields_; }

 private:
  flowdeck_text fields_[FLOWDECK_FIELD_COUNT]{};
};

}  // namespace host
