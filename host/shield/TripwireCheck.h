#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/Error.h"

namespace host {

// A definitions file the shield plug-in must not be given; what() names every fault.
struct TripwireError : Error {
  explicit TripwireError(const std::string &fault) : Error("", fault) {}
};

// A definitions file read line by line as the shield plug-in reads it, and checked for what the
// plug-in would take without a word or fail on. The plug-in reads the file again at every shield
// cycle: a fault that stops its reading leaves every tripwire after it unwatched, and one in the
// first active element leaves it with no list at all, so that it writes an error for every
// request. A fault is, each told as "FILE:LINE: ..." with its attribute:
// - an element that is not whole on its line, or an element name the plug-in passes over
//   ("<Tripwire ", "<TRIPWIRE" with a tab);
// - text in an element that is no NAME="value", a name the plug-in does not read (a misspelling,
//   a name in lower case), a name given twice, a name the plug-in finds inside another value;
// - in any element, an ACTIVE that is missing or neither True, False nor a number;
// - in an active element: a SENSITIVITY or STRENGTH that is missing, not a number or outside
//   16 bits, an INVERSE or CARRYPARAMETERS that is missing or not boolean, a HOST that no web
//   server gives as a request's host, a RESOURCE that no request can fit (MaskFault), a mask
//   repeated (letter case ignored: the plug-in stops there), a DEFLECT the plug-in refuses to
//   fill in or flowdeck would refuse at every shield.
// The other attributes of an inactive element are not read, as the plug-in does not read them.
class TripwireCheck {
 public:
  // Larger than any real set of tripwires: every request is held against each of them.
  static constexpr size_t kLargestFile = 4u << 20;
  // Faults told one by one; those beyond are counted.
  static constexpr size_t kFaultsTold = 10;
  // The plug-in reads an attribute only within the first 32767 characters of its element.
  static constexpr size_t kLongestElement = 32767;

  // Checks the text of the definitions file `path` (named in the faults).
  TripwireCheck(std::string path, std::string_view text);

  // Reads the definitions file and checks it: its text, to hand to the plug-in, when it has no
  // fault. Throws TripwireError when it has, Error when it cannot be read.
  static std::string Checked(const std::string &path);

  // Why no request can ever fit this mask, or empty. A request's path info is a URL path: it
  // begins with '/', never holds its query, and is compared percent-decoded; the file path
  // this host gives (the document root and the path info) is separated by '/' only. So a mask
  // fits nothing when it is empty, holds '\' (then it is held against that file path split at
  // '\'), holds '?', does not begin with '/' or "*/" (its first part must fit the path's empty
  // first part), ends with '/' (its last part, the name, is empty and a name never is: the
  // plug-in's own matching fails there), holds a percent-encoded character, or has a '*' inside
  // a part, name or extension (a wildcard only when it stands alone: "/adm*/x.htm" fits only a
  // folder named "adm*" literally, which no site has).
  static std::string MaskFault(std::string_view mask);
  // Why the plug-in refuses to fill in the deflect template, or flowdeck refuses the deflect
  // path it makes at every shield; empty for a good one and for none.
  static std::string DeflectFault(std::string_view deflect);

  bool Passed() const noexcept { return faultCount_ == 0; }
  const std::vector<std::string> &Faults() const noexcept { return faults_; }
  size_t FaultCount() const noexcept { return faultCount_; }
  // Active elements read.
  int32_t Active() const noexcept { return active_; }
  // Every fault told in one line: "FILE:3: ...; FILE:5: ...", "and N more" beyond kFaultsTold.
  std::string Describe() const;

 private:
  struct Attribute {
    std::string_view name, value;
  };

  void CheckLine(std::string_view line);
  void CheckLookalikes(std::string_view line);
  void CheckElement(std::string_view element);
  void CheckAttributes(std::string_view element);
  void CheckPluginTakes(std::string_view element);
  bool ReadAttributes(std::string_view element, std::vector<Attribute> &attributes);
  bool ReadAttribute(std::string_view &rest, std::vector<Attribute> &attributes);
  void CheckName(std::string_view name, const std::vector<Attribute> &before);
  void CheckPluginReads(std::string_view element, const std::vector<Attribute> &attributes);
  static std::optional<std::string_view> Value(const std::vector<Attribute> &attributes,
                                               std::string_view name);
  // Whether the element is active; a fault when ACTIVE does not say.
  bool CheckActive(const std::vector<Attribute> &attributes);
  void CheckInteger(const std::vector<Attribute> &attributes, std::string_view name);
  void CheckBoolean(const std::vector<Attribute> &attributes, std::string_view name);
  void CheckHost(const std::vector<Attribute> &attributes);
  void CheckMask(const std::vector<Attribute> &attributes);
  void CheckDeflect(const std::vector<Attribute> &attributes);
  bool Meant(std::string_view name) const;
  void Fault(std::string_view text);

  std::string path_;
  size_t line_ = 0;
  std::vector<std::string> faults_;
  size_t faultCount_ = 0;
  int32_t active_ = 0;
  // The masks of the active elements so far, upper-cased, and their lines.
  std::unordered_map<std::string, size_t> masks_;
  // The names the element's unknown ones were taken to mean.
  std::vector<std::string_view> meant_;
};

}  // namespace host
