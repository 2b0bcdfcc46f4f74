#include "shield/TripwireCheck.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <utility>

#include "Convert.h"
#include "KvError.h"
#include "OwnFiles.h"
#include "UrlText.h"
#include "base/DidYouMean.h"
#include "base/Error.h"
#include "clsShieldedResources.h"
#include "modVantrel.h"
#include "shield/ShieldValues.h"
#include "shield/TripwireDefinitions.h"

namespace host {

namespace {

constexpr std::string_view kElementStart = "<TRIPWIRE ";
constexpr std::string_view kElementEnd = "/>";
constexpr std::array<std::string_view, 9> kNames = {"ACTIVE",   "DESCRIPTION", "HOST",
                                                    "RESOURCE", "DEFLECT",     "SENSITIVITY",
                                                    "STRENGTH", "INVERSE",     "CARRYPARAMETERS"};
// Where the conversions raise: their errors are turned into words here, never logged.
constexpr common::Site kSite{"  Class: TripwireCheck  ", "TripwireCheck"};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string Quoted(std::string_view name, std::string_view value) {
  return std::string(name) + "=\"" + std::string(value) + "\"";
}

// The name an unknown one was probably meant to be, and words to put behind it saying so; empty
// when none is close.
std::pair<std::string_view, std::string> Suggestion(std::string_view name) {
  const std::string upper = common::UpperCase(name);
  for (std::string_view known : kNames) {
    if (upper == known) return {known, " (names are upper case: " + std::string(known) + ")"};
  }
  static const std::vector<std::string> names(kNames.begin(), kNames.end());
  const std::string closest = ClosestName(upper, names);
  for (std::string_view known : kNames) {
    if (known == closest) return {known, " (did you mean " + closest + "?)"};
  }
  return {};
}

bool IsHexDigit(char c) {
  return common::HexDigitValue(c) >= 0;
}

bool HoldsPercentEncoding(std::string_view text) {
  for (size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1)) {
    if (at + 2 < text.size() && IsHexDigit(text[at + 1]) && IsHexDigit(text[at + 2])) return true;
  }
  return false;
}

// A '*' that is part of a longer text, where the plug-in takes it as a plain character.
bool HoldsPartWildcard(std::string_view piece) {
  return piece != "*" && piece.find('*') != std::string_view::npos;
}

bool HoldsInnerWildcard(std::string_view mask) {
  const size_t lastSlash = mask.rfind('/');
  std::string_view folders = mask.substr(0, lastSlash);
  for (size_t start = 0; start <= folders.size();) {
    const size_t end = std::min(folders.find('/', start), folders.size());
    if (HoldsPartWildcard(folders.substr(start, end - start))) return true;
    start = end + 1;
  }
  const std::string_view last = mask.substr(lastSlash + 1);
  const size_t dot = last.find('.');
  if (HoldsPartWildcard(last.substr(0, dot))) return true;
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = last.substr(dot + 1);
  return HoldsPartWildcard(extension.substr(0, extension.find('.')));
}

}  // namespace

TripwireCheck::TripwireCheck(std::string path, std::string_view text) : path_(std::move(path)) {
  // Lines end at LF, a CR before it dropped, as the plug-in's reader takes them.
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++line_;
    CheckLine(line);
    start = end + 1;
  }
}

std::string TripwireCheck::Checked(const std::string &path) {
  std::optional<std::string> text = common::ReadRegularFile(path, kLargestFile, true);
  if (!text) {
    if (errno == EFBIG) {
      throw TripwireError(path + ": the definitions file holds more than " +
                          std::to_string(kLargestFile >> 20) + " MiB");
    }
    throw Error(path, "cannot read the definitions file: " + common::OpenFailure(errno));
  }
  const TripwireCheck check(path, *text);
  if (!check.Passed()) throw TripwireError(check.Describe());
  return std::move(*text);
}

std::string TripwireCheck::Describe() const {
  std::string text;
  for (const std::string &fault : faults_) text += (text.empty() ? "" : "; ") + fault;
  if (faultCount_ > faults_.size()) {
    text += "; and " + std::to_string(faultCount_ - faults_.size()) + " more";
  }
  return text;
}

void TripwireCheck::Fault(std::string_view text) {
  if (faultCount_++ < kFaultsTold) {
    faults_.push_back(path_ + ":" + std::to_string(line_) + ": " + std::string(text));
  }
}

void TripwireCheck::CheckLine(std::string_view line) {
  CheckLookalikes(line);
  // As the plug-in finds its elements: the first behind "<TRIPWIRE ", each further one on the
  // line behind "<TRIPWIRE", each up to the next "/>".
  size_t start = line.find(kElementStart);
  while (start != std::string_view::npos) {
    const size_t end = line.find(kElementEnd, start);
    if (end == std::string_view::npos) {
      Fault("the TRIPWIRE element does not end with '/>' on its line (an element is one line)");
      return;
    }
    CheckElement(line.substr(start, end + kElementEnd.size() - start));
    start = line.find("<TRIPWIRE", end + kElementEnd.size());
  }
}

// An element the plug-in passes over without a word: its name in another case, or followed by
// something other than one blank.
void TripwireCheck::CheckLookalikes(std::string_view line) {
  const std::string upper = common::UpperCase(line);
  for (size_t at = upper.find("<TRIPWIRE"); at != std::string::npos;
       at = upper.find("<TRIPWIRE", at + 1)) {
    const char next = at + 9 < line.size() ? line[at + 9] : ' ';
    if (next == 'S' || next == 's' || next == '>') continue;  // the TRIPWIRES around them
    if (line.substr(at, kElementStart.size()) == kElementStart) continue;
    if (line.substr(at, 9) == "<TRIPWIRE" && line.rfind(kElementEnd, at) != std::string::npos &&
        line.find(kElementStart) < at) {
      continue;  // a further element on the line, which the plug-in reads
    }
    Fault("'" + std::string(line.substr(at, 10)) +
          "' is passed over: a tripwire begins with '<TRIPWIRE ' (upper case, then a blank)");
  }
}

void TripwireCheck::CheckElement(std::string_view element) {
  const size_t faultsBefore = faultCount_;
  CheckAttributes(element);
  if (faultCount_ == faultsBefore) CheckPluginTakes(element);
}

// The plug-in's own reader has the last word: an element it stops at is a fault even where no
// check above tells why.
void TripwireCheck::CheckPluginTakes(std::string_view element) {
  try {
    vantrel::clsShieldedResources::DefinitionOf(element);
  } catch (const common::KvError &error) {
    Fault("the plug-in stops reading at this element: " + TripwireDefinitions::FailureText(error));
  }
}

void TripwireCheck::CheckAttributes(std::string_view element) {
  if (element.size() > kLongestElement) {
    Fault("the TRIPWIRE element is longer than " + std::to_string(kLongestElement) +
          " characters, more than the plug-in reads");
    return;
  }
  meant_.clear();
  std::vector<Attribute> attributes;
  // Past text that is no attribute, what the plug-in finds cannot be told apart: that fault
  // is the element's one.
  if (!ReadAttributes(element, attributes)) return;
  CheckPluginReads(element, attributes);
  if (!CheckActive(attributes)) return;
  ++active_;
  CheckInteger(attributes, "SENSITIVITY");
  CheckInteger(attributes, "STRENGTH");
  CheckBoolean(attributes, "INVERSE");
  CheckBoolean(attributes, "CARRYPARAMETERS");
  CheckHost(attributes);
  CheckMask(attributes);
  CheckDeflect(attributes);
}

// The NAME="value" pairs between the element's name and its "/>", in order; false at text
// that is none.
bool TripwireCheck::ReadAttributes(std::string_view element, std::vector<Attribute> &attributes) {
  std::string_view rest = element.substr(9, element.size() - 9 - kElementEnd.size());
  for (;;) {
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    if (rest.empty()) return true;
    if (!ReadAttribute(rest, attributes)) return false;
  }
}

bool TripwireCheck::ReadAttribute(std::string_view &rest, std::vector<Attribute> &attributes) {
  size_t end = 0;
  while (end < rest.size() && !IsBlank(rest[end]) && rest[end] != '=' && rest[end] != '"') ++end;
  const std::string_view name = rest.substr(0, end);
  if (name.empty() || rest.substr(end, 2) != "=\"") {
    const std::string_view text = rest.substr(0, std::max<size_t>(end, 1));
    Fault("'" + std::string(text) + "' is no NAME=\"value\" (no blank around '=')");
    return false;
  }
  const size_t close = rest.find('"', end + 2);
  if (close == std::string_view::npos) {
    Fault(std::string(name) + ": its value has no closing '\"' before the element's '/>'");
    return false;
  }
  CheckName(name, attributes);
  attributes.push_back({name, rest.substr(end + 2, close - end - 2)});
  rest.remove_prefix(close + 1);
  return true;
}

void TripwireCheck::CheckName(std::string_view name, const std::vector<Attribute> &before) {
  if (std::find(kNames.begin(), kNames.end(), name) == kNames.end()) {
    const auto [meant, words] = Suggestion(name);
    if (!meant.empty()) meant_.push_back(meant);
    Fault(std::string(name) + " is no TRIPWIRE attribute" + words);
    return;
  }
  for (const Attribute &attribute : before) {
    if (attribute.name == name) {
      Fault(std::string(name) + " is given twice (the plug-in takes the first)");
      return;
    }
  }
}

// The plug-in finds an attribute wherever NAME=" stands, also inside another attribute's value
// (DESCRIPTION="set HOST=" ...): what it reads must be what the element says.
void TripwireCheck::CheckPluginReads(std::string_view element,
                                     const std::vector<Attribute> &attributes) {
  for (std::string_view name : kNames) {
    if (vantrel::clsShieldedResources::AttributeOf(element, name) !=
        Value(attributes, name).value_or("")) {
      Fault(std::string(name) + ": the plug-in finds '" + std::string(name) +
            "=\"' inside another attribute's value and reads that instead");
    }
  }
}

// A missing attribute that a misspelt one was already said to mean needs no word of its own.
bool TripwireCheck::Meant(std::string_view name) const {
  return std::find(meant_.begin(), meant_.end(), name) != meant_.end();
}

std::optional<std::string_view> TripwireCheck::Value(const std::vector<Attribute> &attributes,
                                                     std::string_view name) {
  for (const Attribute &attribute : attributes) {
    if (attribute.name == name) return attribute.value;
  }
  return std::nullopt;
}

bool TripwireCheck::CheckActive(const std::vector<Attribute> &attributes) {
  const std::optional<std::string_view> value = Value(attributes, "ACTIVE");
  if (!value || value->empty()) {
    if (!Meant("ACTIVE")) Fault("ACTIVE is missing: True or False");
    return false;
  }
  try {
    return common::TextToBoolean(kSite, *value);
  } catch (const common::KvError &) {
    Fault(Quoted("ACTIVE", *value) + " is neither True, False nor a number");
    return false;
  }
}

void TripwireCheck::CheckInteger(const std::vector<Attribute> &attributes, std::string_view name) {
  const std::string_view value = Value(attributes, name).value_or("");
  if (value.empty()) {
    if (!Meant(name)) Fault(std::string(name) + " is missing: a whole number from -32768 to 32767");
    return;
  }
  try {
    common::TextToInteger(kSite, value);
  } catch (const common::KvError &error) {
    Fault(Quoted(name, value) + (error.Number() == common::kOverflow ? " is outside -32768 to 32767"
                                                                     : " is not a number"));
  }
}

void TripwireCheck::CheckBoolean(const std::vector<Attribute> &attributes, std::string_view name) {
  const std::string_view value = Value(attributes, name).value_or("");
  if (value.empty()) {
    if (!Meant(name)) Fault(std::string(name) + " is missing: True or False");
    return;
  }
  try {
    common::TextToBoolean(kSite, value);
  } catch (const common::KvError &) {
    Fault(Quoted(name, value) + " is neither True, False nor a number");
  }
}

void TripwireCheck::CheckHost(const std::vector<Attribute> &attributes) {
  const std::string_view host = Value(attributes, "HOST").value_or("");
  if (host.empty()) return;  // every host
  if (std::string refusal = ShieldValues::HostRefusal(host); !refusal.empty()) {
    Fault(Quoted("HOST", host) + " is never a request's host: " + refusal.substr(4));
  }
}

void TripwireCheck::CheckMask(const std::vector<Attribute> &attributes) {
  const std::string_view mask = Value(attributes, "RESOURCE").value_or("");
  if (std::string fault = MaskFault(mask); !fault.empty()) {
    Fault((mask.empty() ? std::string("RESOURCE") : Quoted("RESOURCE", mask)) + " " + fault);
  }
  // The plug-in keys its definitions by mask, letter case ignored, whatever their hosts.
  const auto [entry, added] = masks_.emplace(common::UpperCase(mask), line_);
  if (!added) {
    Fault(Quoted("RESOURCE", mask) + " is the mask of line " + std::to_string(entry->second) +
          " too, letter case ignored: the plug-in stops reading there");
  }
}

void TripwireCheck::CheckDeflect(const std::vector<Attribute> &attributes) {
  const std::string_view deflect = Value(attributes, "DEFLECT").value_or("");
  if (std::string fault = DeflectFault(deflect); !fault.empty()) {
    Fault(Quoted("DEFLECT", deflect) + " " + fault);
  }
}

std::string TripwireCheck::MaskFault(std::string_view mask) {
  if (mask.empty()) return "is missing or empty: no request fits an empty mask";
  const std::string never = "never fits a request: ";
  if (mask.find('\\') != std::string_view::npos) {
    return never +
           "a mask holding '\\' is held against the request's file path, whose separator "
           "here is '/'";
  }
  if (mask.find('?') != std::string_view::npos) {
    return never + "a request's path never holds its query ('?' and what follows)";
  }
  if (mask.front() != '/' && !mask.starts_with("*/")) {
    return never + "a request's path begins with '/'";
  }
  if (mask.back() == '/') {
    return never + "it ends with '/', and a request's name is never empty (write " +
           std::string(mask) + "*.* for every page in that folder)";
  }
  if (HoldsPercentEncoding(mask)) {
    return never + "a request's path is compared percent-decoded (write the character itself)";
  }
  if (HoldsInnerWildcard(mask)) {
    return never +
           "'*' is a wildcard only as a whole folder, name or extension; inside one it "
           "is a plain character";
  }
  return "";
}

std::string TripwireCheck::DeflectFault(std::string_view deflect) {
  if (deflect.empty()) return "";
  std::string made;
  try {
    made = vantrel::BuildDeflectString("/folder/name.ext", "/srv/folder/name.ext", deflect);
  } catch (const common::KvError &) {
    const char separator = deflect.find('\\') != std::string_view::npos ? '\\' : '/';
    if (deflect.find(separator) == std::string_view::npos) {
      return std::string("is refused by the plug-in: a '*' needs a '") + separator + "' before it";
    }
    return std::string("is refused by the plug-in: a '*' may stand only behind the last '") +
           separator + "' (it takes the request's name or extension)";
  }
  std::string refusal = ShieldValues::DeflectRefusal(made);
  if (refusal.empty()) return "";
  return "would be refused at every shield: " + refusal.substr(4);
}

}  // namespace host
