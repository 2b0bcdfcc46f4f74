#pragma once

#include <charconv>
#include <concepts>
#include <string>
#include <string_view>

namespace vantrel {

// What the reader of a definitions file and its matcher are given: the file, and where they say
// what they do. Whoever reads the definitions (the plug-in in its directory, flowdeck in its run
// directory) names its own file; nothing is looked up process-wide.
struct DefinitionsSettings {
  std::string path;  // the definitions file, created empty when it is missing
  // The trace: `traceOn` is asked before each line (the plug-in's switch changes with its
  // settings between two reads), `writeTrace` takes the line and may raise. Without either
  // nothing is traced.
  bool (*traceOn)() = nullptr;
  void (*writeTrace)(std::string_view line) = nullptr;

  bool Tracing() const { return traceOn != nullptr && writeTrace != nullptr && traceOn(); }

  // Writes one line made of the pieces while tracing is on; it is only put together then.
  template <class... Parts>
  void Trace(const Parts &...parts) const {
    if (!Tracing()) return;
    std::string line;
    (AppendPart(line, parts), ...);
    writeTrace(line);
  }

 private:
  static void AppendPart(std::string &line, std::string_view text) { line.append(text); }
  template <std::integral Number>
  static void AppendPart(std::string &line, Number value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    line.append(digits, result.ptr);
  }
};

}  // namespace vantrel
