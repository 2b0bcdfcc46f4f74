#include "report/XmlElementReader.h"

#include <fcntl.h>
#include <libxml/xmlreader.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace report {

namespace {

xmlTextReaderPtr AsReader(void *reader) {
  return static_cast<xmlTextReaderPtr>(reader);
}

const char *Text(const xmlChar *text) {
  return text == nullptr ? "" : reinterpret_cast<const char *>(text);
}

void OnError(void *self, xmlErrorPtr error) {
  if (error == nullptr || error->level < XML_ERR_ERROR) return;
  std::string message = Text(reinterpret_cast<const xmlChar *>(error->message));
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  static_cast<XmlElementReader *>(self)->Fail("line " + std::to_string(error->line) + ": " +
                                              message);
}

}  // namespace

XmlElementReader::XmlElementReader(const std::string &path) {
  source_.path = path;
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    if (errno != ENOENT) Fail(std::strerror(errno));
    return;
  }
  source_.state = Source::State::kRead;
  // Entities are left unexpanded and no DTD is fetched: the inputs use none.
  reader_ = xmlReaderForFd(fd_, path.c_str(), nullptr, XML_PARSE_NONET);
  if (reader_ == nullptr) {
    Fail("libxml2 could not start reading it");
    return;
  }
  xmlTextReaderSetStructuredErrorHandler(AsReader(reader_), OnError, this);
}

XmlElementReader::~XmlElementReader() {
  if (reader_ != nullptr) xmlFreeTextReader(AsReader(reader_));
  if (fd_ >= 0) close(fd_);
}

void XmlElementReader::Fail(std::string problem) {
  if (source_.state == Source::State::kFailed) return;  // the first error is the one that counts
  source_.state = Source::State::kFailed;
  source_.problem = std::move(problem);
}

bool XmlElementReader::NextElement() {
  while (reader_ != nullptr && source_.state == Source::State::kRead) {
    const int step = xmlTextReaderRead(AsReader(reader_));
    if (step == 0) return false;
    if (step < 0) {
      Fail("not well-formed XML");
      return false;
    }
    if (xmlTextReaderNodeType(AsReader(reader_)) == XML_READER_TYPE_ELEMENT) {
      name_ = Text(xmlTextReaderConstName(AsReader(reader_)));
      ReadAttributes();
      return true;
    }
  }
  return false;
}

void XmlElementReader::ReadAttributes() {
  attributes_.clear();
  xmlTextReaderPtr reader = AsReader(reader_);
  while (xmlTextReaderMoveToNextAttribute(reader) == 1) {
    attributes_.emplace_back(Text(xmlTextReaderConstName(reader)),
                             Text(xmlTextReaderConstValue(reader)));
  }
  xmlTextReaderMoveToElement(reader);
}

const std::string &XmlElementReader::Attribute(std::string_view name) const {
  static const std::string kNone;
  for (const auto &[attribute, value] : attributes_) {
    if (attribute == name) return value;
  }
  return kNone;
}

}  // namespace report
