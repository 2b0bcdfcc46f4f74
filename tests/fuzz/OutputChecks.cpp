#include "OutputChecks.h"

#include <libxml/parser.h>

#include <sys/stat.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fuzzing {

namespace {

void IgnoreXmlMessage(void *, const char *, ...) {}

constexpr std::string_view kSeparators = "^|~#";
constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

void Require(bool holds, std::string_view property) {
  if (holds) return;
  std::fprintf(stderr, "\nproperty broken: %.*s\n", static_cast<int>(property.size()),
               property.data());
  std::abort();
}

std::string ReadWholeFile(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::string &path, std::string_view content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  Require(file.good(), "the fuzz target can write its own files");
}

bool FileExists(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

XmlDocument ParseXml(std::string_view text) {
  static const bool quiet = [] {
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, IgnoreXmlMessage);
    return true;
  }();
  (void)quiet;
  return XmlDocument(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

std::vector<xmlNode *> ChildElements(const xmlNode *parent, std::string_view name) {
  std::vector<xmlNode *> found;
  for (xmlNode *child = parent->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE && name == reinterpret_cast<const char *>(child->name)) {
      found.push_back(child);
    }
  }
  return found;
}

std::string AttributeValue(const xmlNode *element, std::string_view name) {
  const std::string wanted(name);
  xmlChar *value = xmlGetProp(element, reinterpret_cast<const xmlChar *>(wanted.c_str()));
  if (value == nullptr) return std::string();
  std::string text(reinterpret_cast<const char *>(value));
  xmlFree(value);
  return text;
}

std::vector<std::string> LinesAsRead(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (end == std::string_view::npos && line.empty()) break;
    lines.emplace_back(line);
  }
  return lines;
}

void CheckExportFile(const std::string &path, size_t separators) {
  const std::string content = ReadWholeFile(path);
  std::string_view text = content;
  Require(text.empty() || text.ends_with(kLineEnd), "an export file ends with a whole line");
  while (!text.empty()) {
    const size_t end = text.find(kLineEnd);
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + kLineEnd.size());
    Require(line.find_first_of("\r\n") == std::string_view::npos,
            "an export line holds no CR or LF");
    Require(!line.empty() && kSeparators.find(line.front()) != std::string_view::npos,
            "an export line begins with its separator");
    Require(static_cast<size_t>(std::count(line.begin(), line.end(), line.front())) == separators,
            "an export line holds its separator once per field");
  }
}

size_t ErrorLogEntries(const std::string &path) {
  const std::string content = ReadWholeFile(path);
  size_t entries = 0;
  for (size_t at = content.find(kLineEnd); at != std::string::npos;
       at = content.find(kLineEnd, at + 1)) {
    ++entries;
  }
  return entries;
}

}  // namespace fuzzing
