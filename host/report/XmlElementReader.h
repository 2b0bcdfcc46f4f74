#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "report/ReportData.h"

namespace report {

// Walks the start tags of an XML file one by one with libxml2's streaming reader, so a
// snapshot of any size is read in little memory. Never reaches the network.
class XmlElementReader {
 public:
  // Opens the file; Source() then says whether it is missing or could not be opened.
  explicit XmlElementReader(const std::string &path);
  ~XmlElementReader();
  XmlElementReader(const XmlElementReader &) = delete;
  XmlElementReader &operator=(const XmlElementReader &) = delete;

  // Moves to the next start tag; false at the end of the document or at the first error, after
  // which Source() is failed and says where and why.
  bool NextElement();

  const std::string &Name() const { return name_; }
  // The attribute's value with its references resolved; empty when the tag lacks it.
  const std::string &Attribute(std::string_view name) const;
  const Source &Result() const { return source_; }

  // Called by libxml2 with each error of this file.
  void Fail(std::string problem);

 private:
  void ReadAttributes();

  Source source_;
  int fd_ = -1;
  void *reader_ = nullptr;
  std::string name_;
  std::vector<std::pair<std::string, std::string>> attributes_;
};

}  // namespace report
