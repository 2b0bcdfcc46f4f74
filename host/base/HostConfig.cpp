#include "base/HostConfig.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "base/AddressRanges.h"
#include "base/DidYouMean.h"
#include "base/Duration.h"
#include "base/Error.h"

namespace host {

namespace {

// kOptionalSingle: a number or nothing; kReportable: True, False or Report; kExtensions: file
// name extensions separated by commas or blanks.
enum class Type {
  kText,
  kSingle,
  kOptionalSingle,
  kInteger,
  kBoolean,
  kReportable,
  kAddressList,
  kDuration,
  kExtensions,
};

// Where a setting goes: into the plug-ins' configuration texts, or to flowdeck alone.
enum class Reader { kPlugins, kHost };

struct Setting {
  const char *key;
  Type type;
  const char *fallback;
  double minimum, maximum;
  Reader reader = Reader::kPlugins;
};

// One line per setting: key, type, default, range. The texts are positional, so the order
// here is the order of the shield plug-in's fields, the monitor's three extra ones last.
// The defaults separate steady clients from people on real traffic: with whole-second log
// times steady clients rate 0.997 and above, the most regular people up to about 0.93.
constexpr Setting kSettings[] = {
    {"Server", Type::kText, "127.0.0.1", 0, 0},
    {"FlowdeckURL", Type::kText, "/flowdeck", 0, 0},
    {"FlowdeckFilterURI", Type::kText, "/shield", 0, 0},
    {"AddShieldURL", Type::kText, "A=add", 0, 0},
    {"RemoveShieldURL", Type::kText, "A=remove", 0, 0},
    {"ThresholdBase", Type::kSingle, "0.99", -1e6, 1e6},
    {"ThresholdIncrement", Type::kSingle, "0.01", -1e6, 1e6},
    {"PeriodBase", Type::kInteger, "30", -32768, 32767},
    {"PeriodIncrement", Type::kInteger, "2", -32768, 32767},
    {"FernwickActive", Type::kBoolean, "True", 0, 0},
    {"FernwickPath", Type::kText, "", 0, 0},
    {"Sensitivity", Type::kInteger, "5", -32768, 32767},
    {"PossibleStrength", Type::kInteger, "4", -32768, 32767},
    {"CertainStrength", Type::kInteger, "2", -32768, 32767},
    {"Trace", Type::kBoolean, "False", 0, 0},
    // flowdeck's own settings, after every one the plug-ins read.
    {"ShieldSeconds", Type::kInteger, "3600", 1, 315360000, Reader::kHost},
    {"NginxMapFile", Type::kText, "", 0, 0, Reader::kHost},
    {"NginxReload", Type::kText, "nginx -s reload", 0, 0, Reader::kHost},
    {"ApacheMapFile", Type::kText, "", 0, 0, Reader::kHost},
    {"ApacheReload", Type::kText, "", 0, 0, Reader::kHost},
    {"NftTable", Type::kText, "", 0, 0, Reader::kHost},
    {"ShieldCommand", Type::kText, "", 0, 0, Reader::kHost},
    {"IgnoreAddresses", Type::kAddressList, "", 0, 0, Reader::kHost},
    {"NeverShield", Type::kAddressList, "127.0.0.0/8, ::1", 0, 0, Reader::kHost},
    {"LogFormat", Type::kText, "", 0, 0, Reader::kHost},
    {"TrustedProxies", Type::kAddressList, "", 0, 0, Reader::kHost},
    {"PaceTest", Type::kBoolean, "True", 0, 0, Reader::kHost},
    {"PaceMaxSpread", Type::kSingle, "0.35", 0, 10, Reader::kHost},
    {"NginxTest", Type::kText, "nginx -t -q", 0, 0, Reader::kHost},
    {"SyslogSenders", Type::kAddressList, "127.0.0.0/8, ::1", 0, 0, Reader::kHost},
    {"SyslogMaxConnections", Type::kInteger, "256", 1, 65536, Reader::kHost},
    {"MaxShields", Type::kInteger, "100000", 1, 100000000, Reader::kHost},
    {"WholeAddressAfter", Type::kInteger, "0", 0, 1000000, Reader::kHost},
    {"NginxAddressMapFile", Type::kText, "", 0, 0, Reader::kHost},
    {"ApacheAddressMapFile", Type::kText, "", 0, 0, Reader::kHost},
    {"OffenceMemory", Type::kDuration, "30d", 0, 315360000, Reader::kHost},
    {"ShieldSecondsFactor", Type::kSingle, "2", 1, 1000, Reader::kHost},
    {"ShieldSecondsMax", Type::kDuration, "1w", 1, 315360000, Reader::kHost},
    {"VerifiedBots", Type::kText, "google, bing, apple, yandex, baidu, duckduckgo", 0, 0,
     Reader::kHost},
    {"VerifiedBotRanges", Type::kText, "", 0, 0, Reader::kHost},
    {"Resolver", Type::kText, "", 0, 0, Reader::kHost},
    {"CrawlTest", Type::kReportable, "True", 0, 0, Reader::kHost},
    {"CrawlWindow", Type::kInteger, "40", 2, 1000, Reader::kHost},
    {"CrawlMinPages", Type::kInteger, "25", 2, 1000, Reader::kHost},
    {"CrawlMaxSpread", Type::kOptionalSingle, "", 0, 10, Reader::kHost},
    // What a browser fetches by itself for a page it shows. A PDF is not among them: a person
    // opens it as a page, and a crawler reading the whole site fetches every one.
    {"CrawlAssetExtensions", Type::kExtensions,
     "css, js, mjs, map, png, jpg, jpeg, gif, svg, ico, webp, avif, bmp, woff, woff2, ttf, otf, "
     "eot, mp4, webm, mp3, ogg, wav, m4a, webmanifest",
     0, 0, Reader::kHost},
    {"CrawlDeflect", Type::kText, "/flowdeck-slow-down.html", 0, 0, Reader::kHost},
};
constexpr size_t kSettingCount = sizeof kSettings / sizeof kSettings[0];

size_t IndexOf(const std::string &key) {
  for (size_t i = 0; i < kSettingCount; ++i) {
    if (key == kSettings[i].key) return i;
  }
  return kSettingCount;
}

std::string Trim(const std::string &text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// Why a list of file name extensions is none: each a word of letters and digits (at most
// HostConfig::kLongestExtension), without its dot.
std::string ExtensionsProblem(const std::string &value) {
  for (const std::string &word : HostConfig::Words(value)) {
    if (word.size() > HostConfig::kLongestExtension)
      return "'" + word + "' is longer than an extension (" +
             std::to_string(HostConfig::kLongestExtension) + " characters at most)";
    for (char c : word) {
      if (!std::isalnum(static_cast<unsigned char>(c)))
        return "'" + word + "': an extension is letters and digits, without its dot";
    }
  }
  return "";
}

// The reason a value does not fit its setting, or empty when it fits.
std::string Check(const Setting &setting, const std::string &value) {
  // The plug-ins' texts are split at ';', so their values cannot hold one.
  if (setting.reader == Reader::kPlugins && value.find(';') != std::string::npos)
    return "a value cannot hold ';'";
  for (char c : value) {
    if (static_cast<unsigned char>(c) < 0x20) return "a value cannot hold control characters";
  }
  if (setting.type == Type::kText) return "";
  if (setting.type == Type::kAddressList) return AddressRanges::Problem(value);
  if (setting.type == Type::kExtensions) return ExtensionsProblem(value);
  if (setting.type == Type::kOptionalSingle && value.empty()) return "";
  if (setting.type == Type::kDuration) {
    const std::optional<int64_t> seconds = ParseDuration(value);
    if (!seconds) return "expected a duration such as 90s, 15m, 12h, 7d, 1w or plain seconds";
    if (*seconds < setting.minimum || *seconds > setting.maximum) {
      return "out of range " + std::to_string(static_cast<long long>(setting.minimum)) + " to " +
             std::to_string(static_cast<long long>(setting.maximum)) + " seconds";
    }
    return "";
  }
  if (setting.type == Type::kBoolean) {
    if (value == "True" || value == "False" || value == "true" || value == "false") return "";
    return "expected True or False";
  }
  if (setting.type == Type::kReportable) {
    if (value == "True" || value == "False" || value == "true" || value == "false" ||
        value == "Report")
      return "";
    return "expected True, False or Report";
  }
  double number = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
      !std::isfinite(number)) {
    return "expected a number";
  }
  if (setting.type == Type::kInteger && number != std::floor(number)) {
    return "expected a whole number";
  }
  if (number < setting.minimum || number > setting.maximum) {
    return "out of range " + std::to_string(static_cast<long long>(setting.minimum)) + " to " +
           std::to_string(static_cast<long long>(setting.maximum));
  }
  return "";
}

// Where a line's comment begins: a "#" at its start or after a blank, so that a value may hold
// one ("LogFormat = %h #%{X-Id}i").
size_t CommentStart(const std::string &line) {
  for (size_t at = line.find('#'); at != std::string::npos; at = line.find('#', at + 1)) {
    if (at == 0 || line[at - 1] == ' ' || line[at - 1] == '\t') return at;
  }
  return line.size();
}

}  // namespace

HostConfig::HostConfig() {
  for (const Setting &setting : kSettings) values_.emplace_back(setting.fallback);
}

const std::vector<std::string> &HostConfig::Keys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> names;
    for (const Setting &setting : kSettings) names.emplace_back(setting.key);
    return names;
  }();
  return keys;
}

void HostConfig::Set(const std::string &key, const std::string &value, const std::string &where) {
  size_t index = IndexOf(key);
  if (index == kSettingCount) {
    // Keys are exact: a near one is named, never taken instead.
    throw Error(where, std::string("unknown setting '") + key + "'" + DidYouMean(key, Keys()));
  }
  std::string problem = Check(kSettings[index], value);
  if (!problem.empty()) {
    Error error = Error::Setting(key, value, problem);
    error.Within(where);
    throw error;
  }
  values_[index] = value;
}

void HostConfig::Load(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw Error(path, "cannot read the configuration file");
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string content = Trim(line.substr(0, CommentStart(line)));
    if (content.empty()) continue;
    const std::string where = path + ":" + std::to_string(number);
    size_t equals = content.find('=');
    if (equals == std::string::npos) {
      throw Error(where, std::string("expected 'key = value', got '") + content + "'");
    }
    Set(Trim(content.substr(0, equals)), Trim(content.substr(equals + 1)), where);
  }
}

int64_t HostConfig::GetInteger(const std::string &key) const {
  const std::string &text = Get(key);
  int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);  // checked when it was set
  return value;
}

int64_t HostConfig::GetSeconds(const std::string &key) const {
  return ParseDuration(Get(key)).value_or(0);  // checked when it was set
}

std::vector<std::string> HostConfig::Words(const std::string &text) {
  std::vector<std::string> words;
  size_t at = 0;
  while ((at = text.find_first_not_of(", \t", at)) != std::string::npos) {
    const size_t end = std::min(text.find_first_of(", \t", at), text.size());
    words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

bool HostConfig::GetBoolean(const std::string &key) const {
  const std::string &text = Get(key);
  return text == "True" || text == "true";
}

const std::string &HostConfig::Get(const std::string &key) const {
  size_t index = IndexOf(key);
  if (index == kSettingCount) throw std::logic_error("no setting " + key);
  return values_[index];
}

std::string HostConfig::ShieldConfigText() const {
  std::string text;
  for (size_t i = 0; i <= IndexOf("FernwickPath"); ++i) text.append(values_[i]).append(1, ';');
  return text.append(Get("Trace"));
}

std::string HostConfig::MonitorConfigText() const {
  std::string text;
  for (size_t i = 0; i < kSettingCount && kSettings[i].reader == Reader::kPlugins; ++i) {
    if (i > 0) text.append(1, ';');
    text.append(values_[i]);
  }
  return text;
}

}  // namespace host
