#include "input/LineCapture.h"

#include "input/LogParser.h"

namespace host {

namespace {

// Servers write "-" for a value they do not have.
std::string_view Dashless(std::string_view text) {
  return text == "-" ? std::string_view() : text;
}

// "host:port", "[v6]:port", "host" or a bare IPv6 address.
void SplitHostAndPort(std::string_view text, std::string_view &host, std::string_view &port) {
  host = text;
  port = {};
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return;
    host = text.substr(1, close - 1);
    if (text.substr(close + 1).starts_with(':')) port = text.substr(close + 2);
    return;
  }
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos && text.rfind(':') == colon) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
}

}  // namespace

void LineCapture::PutOther(const FieldTarget &target, std::string_view text) {
  if (text.size() > LogRecord::kMaxField) {
    Fail(LineFault::kFieldTooLong);
    return;
  }
  switch (target.use) {
    case FieldUse::kSlot:
      Set(target.slot, target.priority, text);
      break;
    case FieldUse::kHostAndPort: {
      std::string_view host, port;
      SplitHostAndPort(Dashless(text), host, port);
      Set(LogSlot::kVhost, target.priority, host);
      if (!port.empty()) Set(LogSlot::kPort, target.priority, port);
      break;
    }
    case FieldUse::kMarkedQuery:
      Set(LogSlot::kQuery, target.priority, text.starts_with('?') ? text.substr(1) : text);
      break;
    case FieldUse::kUriAndArgs:
      if (text.size() > 1 && text.back() == '-' && text.find('?') == std::string_view::npos) {
        text.remove_suffix(1);
      }
      Set(LogSlot::kTarget, target.priority, text);
      break;
    default:
      break;
  }
}

void LineCapture::PutTime(const FieldTarget &target, const TimeParts &parts) {
  // Fields of one priority hold pieces of one time ("%{%d/%b/%Y %T}t.%{msec_frac}t"); of
  // several that each hold a whole time, the first counts. A field of higher priority
  // replaces them all.
  const bool whole = target.time != TimeForm::kPattern &&
                     target.time != TimeForm::kMillisFraction &&
                     target.time != TimeForm::kMicrosFraction;
  if (target.priority > timePriority_) {
    time_ = parts;
    timePriority_ = target.priority;
    wholeTime_ = whole;
  } else if (target.priority == timePriority_ && !(whole && wholeTime_)) {
    time_.Merge(parts);
    wholeTime_ = wholeTime_ || whole;
  }
}

void LineCapture::AssembleRequest(LogRecord &record) {
  record.method = record.target = record.protocol = {};
  if (Has(LogSlot::kRequest)) SplitRequest(Value(LogSlot::kRequest), record);
  if (!record.method.empty() || !IsRequestMethod(Value(LogSlot::kMethod))) return;
  std::string_view target = Dashless(Value(LogSlot::kTarget));
  if (target.empty()) {
    const std::string_view path = Dashless(Value(LogSlot::kPath));
    const std::string_view query = Dashless(Value(LogSlot::kQuery));
    target = path;
    if (!path.empty() && !query.empty()) {
      std::string &storage = record.storage;
      if (storage.size() + path.size() + query.size() + 1 > storage.capacity()) {
        record.fault = LineFault::kFieldTooLong;  // never moves the views into storage
        return;
      }
      const size_t begin = storage.size();
      storage.append(path).append(1, '?').append(query);
      target = std::string_view(storage).substr(begin);
    }
  }
  if (target.empty()) return;
  record.method = Value(LogSlot::kMethod);
  record.target = target;
  record.protocol = Dashless(Value(LogSlot::kProtocol));
}

ParseOutcome LineCapture::Assemble(LogRecord &record) {
  record.fault = fault_;
  if (Failed()) return ParseOutcome::kMalformed;
  record.client = Dashless(Value(LogSlot::kClient));
  record.authUser = Dashless(Value(LogSlot::kAuthUser));
  record.vhost = Dashless(Value(LogSlot::kVhost));
  record.port = Dashless(Value(LogSlot::kPort));
  record.referrer = Value(LogSlot::kReferrer);
  record.userAgent = Value(LogSlot::kUserAgent);
  record.forwardedFor = Dashless(Value(LogSlot::kForwarded));
  record.status = Dashless(Value(LogSlot::kStatus));
  if (record.client.empty()) {
    record.fault = LineFault::kShape;
    return ParseOutcome::kMalformed;
  }
  if (timePriority_ == 0 || !time_.Finish(record.time)) {
    record.fault = LineFault::kTime;
    return ParseOutcome::kMalformed;
  }
  AssembleRequest(record);
  if (record.fault != LineFault::kNone) return ParseOutcome::kMalformed;
  return record.method.empty() ? ParseOutcome::kNoRequest : ParseOutcome::kRequest;
}

}  // namespace host
