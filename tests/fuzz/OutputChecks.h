#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzing {

// Ends the run with a message when a property the plug-ins promise does not hold: libFuzzer
// then keeps the input as a finding.
void Require(bool holds, std::string_view property);

std::string ReadWholeFile(const std::string &path);
void WriteWholeFile(const std::string &path, std::string_view content);
bool FileExists(const std::string &path);

struct XmlDocumentFree {
  void operator()(xmlDoc *document) const noexcept { xmlFreeDoc(document); }
};
using XmlDocument = std::unique_ptr<xmlDoc, XmlDocumentFree>;

// The parsed document, or nullptr when the text is not well-formed XML. Never touches the
// network and prints nothing.
XmlDocument ParseXml(std::string_view text);
// The element children of a node with a name.
std::vector<xmlNode *> ChildElements(const xmlNode *parent, std::string_view name);
// An attribute's value as the parser reads it back (entities resolved).
std::string AttributeValue(const xmlNode *element, std::string_view name);

// The lines of a text as the plug-ins read a file: each ends at LF, a CR before it is not part
// of the line, and a last piece without LF counts when it is not empty.
std::vector<std::string> LinesAsRead(std::string_view text);

// Every line of an export file is one record: it ends with CR LF, holds no other CR or LF, and
// begins with its separator, which it holds exactly `separators` times.
void CheckExportFile(const std::string &path, size_t separators);

// The lines of an error log: entries end with CR LF (a bare CR joins the parts of a source).
size_t ErrorLogEntries(const std::string &path);

}  // namespace fuzzing
