#include "input/LogFormat.h"

#include <optional>
#include <vector>

#include "Convert.h"
#include "input/ApacheFormat.h"
#include "input/JsonLayout.h"
#include "input/LinePattern.h"
#include "input/LogParser.h"
#include "input/NginxFormat.h"

namespace host {

namespace {

// The Common Log Format family, read by the built-in parser.
class CommonLayoutReader : public LineLayout {
 public:
  explicit CommonLayoutReader(CommonLayout layout) : layout_(layout) {}
  ParseOutcome Parse(std::string_view line, LogRecord &record) const override {
    return ParseCommonLine(line, layout_, record);
  }

 private:
  CommonLayout layout_;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A format as the compilers read it, and where each of its bytes stood in what the operator
// wrote, so that an error points at the operator's column.
struct Source {
  std::string text;
  std::vector<size_t> origin;  // one a byte, and one for the end

  void Add(char c, size_t at) {
    text.push_back(c);
    origin.push_back(at);
  }
  size_t Origin(size_t position) const {
    return position < origin.size() ? origin[position] : origin.back();
  }
};

// 'part one' 'part two': a log_format pasted from nginx.conf, its quoted parts joined.
std::optional<Source> NginxQuotedParts(std::string_view text, size_t start) {
  Source source;
  size_t at = start;
  while (at < text.size()) {
    if (text[at] != '\'') return std::nullopt;
    for (++at; at < text.size() && text[at] != '\''; ++at) {
      if (text[at] == '\\' && at + 1 < text.size()) {
        source.Add(text[at], at);
        ++at;
      }
      source.Add(text[at], at);
    }
    if (at >= text.size()) return std::nullopt;
    for (++at; at < text.size() && IsBlank(text[at]);) ++at;
  }
  source.origin.push_back(text.size());
  return source;
}

// {\"addr\":\"%h\"...}: a JSON template pasted from httpd.conf, its quotes still escaped.
bool EscapedTemplate(std::string_view text) {
  return text.starts_with('{') && text.find("\\\"") != std::string_view::npos &&
         text.find('"') == text.find("\\\"") + 1;
}

Source Prepare(std::string_view text) {
  size_t start = 0, end = text.size();
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && IsBlank(text[end - 1])) --end;
  if (start < end && text[start] == '\'') {
    if (std::optional<Source> joined = NginxQuotedParts(text.substr(0, end), start)) return *joined;
  }
  Source source;
  const std::string_view body = text.substr(start, end - start);
  const bool escaped = EscapedTemplate(body);
  for (size_t i = start; i < end; ++i) {
    if (escaped && text[i] == '\\' && i + 1 < end && (text[i + 1] == '"' || text[i + 1] == '\\')) {
      ++i;
    }
    source.Add(text[i], i);
  }
  source.origin.push_back(end);
  return source;
}

bool AnyForwarded(const std::vector<const FieldTarget *> &targets) {
  for (const FieldTarget *target : targets) {
    if (target->Fills(LogSlot::kForwarded)) return true;
  }
  return false;
}

}  // namespace

struct LogFormat::Compiled {
  std::shared_ptr<const LineLayout> layout;
  std::string kind;
  bool forwarded = false;
};

LogFormat::LogFormat() {
  static const LogFormat automatic(std::make_shared<CommonLayoutReader>(CommonLayout::kAuto),
                                   "auto", false);
  compiled_ = automatic.compiled_;
}

LogFormat::LogFormat(std::shared_ptr<const LineLayout> layout, std::string kind, bool forwarded)
    : compiled_(std::make_shared<const Compiled>(
          Compiled{std::move(layout), std::move(kind), forwarded})) {}

ParseOutcome LogFormat::Parse(std::string_view line, LogRecord &record) const {
  return compiled_->layout->Parse(line, record);
}

const std::string &LogFormat::Kind() const {
  return compiled_->kind;
}

bool LogFormat::HasForwardedChain() const {
  return compiled_->forwarded;
}

LogFormat LogFormat::Compile(std::string_view text) {
  const Source source = Prepare(text);
  const std::string &body = source.text;
  static const std::pair<std::string_view, CommonLayout> kCommonPresets[] = {
      {"auto", CommonLayout::kAuto},
      {"common", CommonLayout::kCommon},
      {"combined", CommonLayout::kCombined},
      {"vhost_combined", CommonLayout::kVhostCombined}};
  for (const auto &[name, layout] : kCommonPresets) {
    if (common::EqualsIgnoreCase(body, name)) {
      return LogFormat(std::make_shared<CommonLayoutReader>(layout), std::string(name), false);
    }
  }
  if (common::EqualsIgnoreCase(body, "caddy")) return LogFormat(JsonLayout::Caddy(), "caddy", true);
  if (common::EqualsIgnoreCase(body, "traefik"))
    return LogFormat(JsonLayout::Traefik(), "traefik", true);
  try {
    const bool nginx = NginxFormat::Holds(body);
    const JsonLayout::Dialect dialect = nginx ? &NginxFormat::Tokens : &ApacheFormat::Tokens;
    const std::string family = nginx ? "nginx" : "Apache";
    if (body.starts_with('{')) {
      std::shared_ptr<const JsonLayout> layout = JsonLayout::FromTemplate(body, dialect);
      const bool forwarded = AnyForwarded(layout->Targets());
      return LogFormat(std::move(layout), family + " JSON template", forwarded);
    }
    if (!nginx && body.find('%') == std::string::npos) {
      throw FormatError(
          "neither a preset (auto, common, combined, vhost_combined, caddy, traefik) nor a "
          "format: an nginx format holds $variables, an Apache one %directives",
          0);
    }
    auto pattern = std::make_shared<const LinePattern>(LinePattern::Build(dialect(body, 0), true));
    RequireEssentialFields(pattern->Targets(), body.size());
    const bool forwarded = AnyForwarded(pattern->Targets());
    return LogFormat(std::move(pattern), family, forwarded);
  } catch (const FormatError &error) {
    throw FormatError(error.what(), source.Origin(error.position));
  }
}

std::string LogFormat::Describe(std::string_view text, const FormatError &error) {
  const size_t at = std::min(error.position, text.size());
  std::string message =
      at >= text.size() ? std::string("at the end: ") : "column " + std::to_string(at + 1) + ": ";
  message.append(error.what()).append("\n  ").append(text).append("\n  ");
  for (size_t i = 0; i < at; ++i) message.push_back(text[i] == '\t' ? '\t' : ' ');
  return message.append("^");
}

}  // namespace host
