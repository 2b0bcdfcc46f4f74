#include "input/JsonLayout.h"

#include <simdjson.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "input/JsonTemplateReader.h"

namespace host {

namespace dom = simdjson::dom;

struct JsonScratch {
  // The DOM parser picks its kernel (AVX2, SSE4.2, ...) at run time, without machine flags.
  dom::parser parser;
  std::vector<char> buffer;  // the line with the padding simdjson reads past its end
};

void JsonScratchDeleter::operator()(JsonScratch *scratch) const {
  delete scratch;
}

namespace {

// Bytes that are no UTF-8 become '?', so that one bad byte in an agent does not hide a
// request (servers write the bytes of a request as they came).
void ReplaceBadUtf8(char *data, size_t size) {
  static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  for (size_t i = 0; i < size;) {
    const auto byte = static_cast<unsigned char>(data[i]);
    const size_t length = byte < 0x80           ? 1
                          : (byte >> 5) == 0x6  ? 2
                          : (byte >> 4) == 0xE  ? 3
                          : (byte >> 3) == 0x1E ? 4
                                                : 0;
    bool good = length > 0 && i + length <= size;
    uint32_t code = length == 1 ? byte : byte & (0x7F >> length);
    for (size_t k = 1; good && k < length; ++k) {
      const auto next = static_cast<unsigned char>(data[i + k]);
      good = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    if (good && length > 1) {
      good = code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    }
    if (!good) {
      data[i++] = '?';
      continue;
    }
    i += length;
  }
}

// The text of a value: a string as JSON unescapes it, a number or true/false as written (a
// number in the shortest form that reads back the same), the strings of an array (all joined
// with ", " for a forwarded chain, else the first); empty for null and objects. Texts made
// here go to storage, which must have room for them.
std::string_view ValueText(dom::element value, bool joinAll, std::string &storage) {
  std::string_view text;
  switch (value.type()) {
    case dom::element_type::STRING:
      return value.get_string().value_unsafe();
    case dom::element_type::INT64:
    case dom::element_type::UINT64:
    case dom::element_type::DOUBLE: {
      char digits[32];
      auto [end, error] =
          value.type() == dom::element_type::INT64
              ? std::to_chars(digits, digits + 32, value.get_int64().value_unsafe())
          : value.type() == dom::element_type::UINT64
              ? std::to_chars(digits, digits + 32, value.get_uint64().value_unsafe())
              : std::to_chars(digits, digits + 32, value.get_double().value_unsafe());
      const size_t length = static_cast<size_t>(end - digits);
      if (error != std::errc() || storage.size() + length > storage.capacity()) return {};
      const size_t begin = storage.size();
      storage.append(digits, length);
      return std::string_view(storage).substr(begin);
    }
    case dom::element_type::BOOL:
      return value.get_bool().value_unsafe() ? "true" : "false";
    case dom::element_type::ARRAY: {
      size_t begin = storage.size();
      dom::array array;
      if (value.get_array().get(array)) return text;
      for (dom::element element : array) {
        std::string_view item;
        if (element.get_string().get(item)) continue;
        if (text.empty()) {
          text = item;
          if (!joinAll) break;
          begin = storage.size();
        } else if (storage.size() + text.size() + item.size() + 2 <= storage.capacity()) {
          if (storage.size() == begin) storage.append(text);
          storage.append(", ").append(item);
          text = std::string_view(storage).substr(begin);
        }
      }
      return text;
    }
    default:
      return text;
  }
}

void Apply(const JsonLayout::Key &key, std::string_view text, LineCapture &capture,
           std::string &storage) {
  if (text.empty()) return;
  if (key.pattern != nullptr) {
    key.pattern->Match(text, capture, storage);
    return;
  }
  if (key.target.use != FieldUse::kTime) {
    capture.Put(key.target, text);
    return;
  }
  TimeParts parts;
  size_t at = 0;
  if (!key.target.ReadTime(text, at, parts) || at != text.size()) {
    capture.Fail(LineFault::kTime);
    return;
  }
  capture.PutTime(key.target, parts);
}

void ReadObject(const JsonLayout &layout, int node, dom::object object, LineCapture &capture,
                std::string &storage) {
  for (dom::key_value_pair member : object) {
    const JsonLayout::Key *key = layout.NodeAt(node).Find(member.key);
    if (key == nullptr) continue;
    if (key->child >= 0) {
      dom::object inner;
      if (!member.value.get_object().get(inner))
        ReadObject(layout, key->child, inner, capture, storage);
      continue;
    }
    Apply(*key, ValueText(member.value, key->target.Fills(LogSlot::kForwarded), storage), capture,
          storage);
  }
}

bool ReadLine(const JsonLayout &layout, std::string_view line, JsonScratch &scratch,
              LineCapture &capture, std::string &storage) {
  std::vector<char> &buffer = scratch.buffer;
  if (buffer.size() < line.size() + simdjson::SIMDJSON_PADDING) {
    buffer.resize(line.size() + line.size() / 2 + simdjson::SIMDJSON_PADDING);
  }
  std::memcpy(buffer.data(), line.data(), line.size());
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(buffer.data());
  dom::element document;
  simdjson::error_code error = scratch.parser.parse(bytes, line.size(), false).get(document);
  if (error == simdjson::UTF8_ERROR) {
    ReplaceBadUtf8(buffer.data(), line.size());
    error = scratch.parser.parse(bytes, line.size(), false).get(document);
  }
  dom::object object;
  if (error || document.get_object().get(object)) return false;
  ReadObject(layout, 0, object, capture, storage);
  return true;
}

}  // namespace

const JsonLayout::Key *JsonLayout::Node::Find(std::string_view name) const {
  for (const Key &key : keys) {
    if (key.name == name) return &key;
  }
  return nullptr;
}

int JsonLayout::ChildNode(int node, std::string_view name) {
  for (const Key &key : nodes_[static_cast<size_t>(node)].keys) {
    if (key.name == name && key.child >= 0) return key.child;
  }
  Key key;
  key.name = name;
  key.child = static_cast<int>(nodes_.size());
  nodes_[static_cast<size_t>(node)].keys.push_back(std::move(key));
  nodes_.emplace_back();
  return static_cast<int>(nodes_.size()) - 1;
}

void JsonLayout::Add(std::string_view path, FieldTarget target) {
  int node = 0;
  for (size_t dot = path.find('.'); dot != std::string_view::npos; dot = path.find('.')) {
    node = ChildNode(node, path.substr(0, dot));
    path.remove_prefix(dot + 1);
  }
  Key key;
  key.name = path;
  key.target = std::move(target);
  nodes_[static_cast<size_t>(node)].keys.push_back(std::move(key));
}

std::unique_ptr<JsonLayout> JsonLayout::FromTemplate(std::string_view text, Dialect dialect) {
  std::unique_ptr<JsonLayout> layout(new JsonLayout());
  JsonTemplateReader(text, dialect, *layout).Read();
  RequireEssentialFields(layout->Targets(), text.size());
  return layout;
}

std::unique_ptr<JsonLayout> JsonLayout::Caddy() {
  using S = LogSlot;
  std::unique_ptr<JsonLayout> layout(new JsonLayout());
  layout->Add("ts", FieldTarget::Time(TimeForm::kAny));
  // client_ip is the client after Caddy's own trusted_proxies; remote_ip the connection.
  layout->Add("request.client_ip", FieldTarget::Slot(S::kClient, 3));
  layout->Add("request.remote_ip", FieldTarget::Slot(S::kClient, 2));
  layout->Add("request.host", FieldTarget::Use(FieldUse::kHostAndPort, 2));
  layout->Add("request.method", FieldTarget::Slot(S::kMethod));
  layout->Add("request.uri", FieldTarget::Slot(S::kTarget));
  layout->Add("request.proto", FieldTarget::Slot(S::kProtocol));
  layout->Add("request.headers.User-Agent", FieldTarget::Slot(S::kUserAgent));
  layout->Add("request.headers.Referer", FieldTarget::Slot(S::kReferrer));
  layout->Add("request.headers.X-Forwarded-For", FieldTarget::Slot(S::kForwarded));
  layout->Add("user_id", FieldTarget::Slot(S::kAuthUser));
  layout->Add("status", FieldTarget::Slot(S::kStatus));
  return layout;
}

std::unique_ptr<JsonLayout> JsonLayout::Traefik() {
  using S = LogSlot;
  std::unique_ptr<JsonLayout> layout(new JsonLayout());
  // StartLocal keeps the wall clock and offset; StartUTC and the logger's time are UTC.
  layout->Add("StartLocal", FieldTarget::Time(TimeForm::kAny, 3));
  layout->Add("StartUTC", FieldTarget::Time(TimeForm::kAny, 2));
  layout->Add("time", FieldTarget::Time(TimeForm::kAny, 1));
  layout->Add("ClientHost", FieldTarget::Slot(S::kClient));
  layout->Add("ClientUsername", FieldTarget::Slot(S::kAuthUser));
  layout->Add("RequestHost", FieldTarget::Slot(S::kVhost, 3));
  layout->Add("RequestAddr", FieldTarget::Use(FieldUse::kHostAndPort, 1));
  layout->Add("RequestPort", FieldTarget::Slot(S::kPort, 2));
  layout->Add("RequestMethod", FieldTarget::Slot(S::kMethod));
  layout->Add("RequestPath", FieldTarget::Slot(S::kTarget));
  layout->Add("RequestProtocol", FieldTarget::Slot(S::kProtocol));
  layout->Add("DownstreamStatus", FieldTarget::Slot(S::kStatus));
  // Headers, when the access log keeps them.
  layout->Add("request_User-Agent", FieldTarget::Slot(S::kUserAgent));
  layout->Add("request_Referer", FieldTarget::Slot(S::kReferrer));
  layout->Add("request_X-Forwarded-For", FieldTarget::Slot(S::kForwarded));
  return layout;
}

ParseOutcome JsonLayout::Parse(std::string_view line, LogRecord &record) const {
  if (record.json == nullptr) record.json.reset(new JsonScratch());
  record.storage.clear();
  record.storage.reserve(2 * line.size() + 16);
  LineCapture capture;
  if (!ReadLine(*this, line, *record.json, capture, record.storage)) capture.Fail(LineFault::kJson);
  return capture.Assemble(record);
}

std::vector<const FieldTarget *> JsonLayout::Targets() const {
  std::vector<const FieldTarget *> targets;
  for (const Node &node : nodes_) {
    for (const Key &key : node.keys) {
      if (key.pattern != nullptr) {
        for (const FieldTarget *target : key.pattern->Targets()) targets.push_back(target);
      } else if (key.child < 0) {
        targets.push_back(&key.target);
      }
    }
  }
  return targets;
}

}  // namespace host
