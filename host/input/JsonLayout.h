#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input/FieldTarget.h"
#include "input/LineLayout.h"
#include "input/LinePattern.h"

namespace host {

// JSON lines, one object a line, read by key: a JSON template of nginx (escape=json) or
// Apache, whose values name the variables written there, or the layout of Caddy's or
// Traefik's JSON access log. Keys a layout does not name are passed over; a named key that a
// line lacks leaves its field empty. Numbers, escapes and Unicode are read as JSON defines
// them (simdjson); a line whose bytes are not UTF-8 is read with each bad byte as '?'.
class JsonLayout : public LineLayout {
 public:
  // Reads a template's value ("$remote_addr", "%h", "$request_method $request_uri").
  using Dialect = std::vector<FormatToken> (*)(std::string_view text, size_t offset);

  // The template's keys, nested objects included; a value may be a string holding fields
  // and text, or a bare field ($status, %{%s}t). Throws FormatError.
  static std::unique_ptr<JsonLayout> FromTemplate(std::string_view text, Dialect dialect);
  static std::unique_ptr<JsonLayout> Caddy();
  static std::unique_ptr<JsonLayout> Traefik();

  ParseOutcome Parse(std::string_view line, LogRecord &record) const override;
  std::vector<const FieldTarget *> Targets() const;

  struct Key {
    std::string name;
    int child = -1;                              // a nested object's node
    FieldTarget target;                          // a value that is one field
    std::shared_ptr<const LinePattern> pattern;  // a value of fields and text
  };
  struct Node {
    std::vector<Key> keys;
    const Key *Find(std::string_view name) const;
  };
  const Node &NodeAt(int index) const { return nodes_[static_cast<size_t>(index)]; }

 private:
  friend class JsonTemplateReader;
  JsonLayout() : nodes_(1) {}
  // Adds a key at a path of names joined by '.'.
  void Add(std::string_view path, FieldTarget target);
  int ChildNode(int node, std::string_view name);

  std::vector<Node> nodes_;  // nodes_[0] is the line's object
};

}  // namespace host
