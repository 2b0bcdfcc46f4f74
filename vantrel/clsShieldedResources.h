#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "DefinitionsSettings.h"
#include "KeyIgnoringCase.h"
#include "RequestPath.h"
#include "clsShieldedResource.h"

namespace vantrel {

// The active tripwire definitions of a definitions file ("KvVantrel.CFG" in the plug-in's
// directory), positions 1 to Count in file order, keyed by their mask without regard to letter
// case.
class clsShieldedResources {
 public:
  // No definitions until Read: a reading that stops at a failure keeps those before it, so that
  // whoever holds the list can watch them.
  explicit clsShieldedResources(DefinitionsSettings settings);
  clsShieldedResources(const clsShieldedResources &) = delete;
  clsShieldedResources &operator=(const clsShieldedResources &) = delete;

  // The position of the first definition of the host that the request fits, or 0 when none
  // does or when one that fits exempts it (Inverse).
  int32_t ProtectedResourceIndex(std::string_view host, std::string_view pathInfo,
                                 std::string_view pathTranslated);
  int32_t Count() const noexcept { return static_cast<int32_t>(definitions_.size()); }
  // A position outside 1 to Count is error 5.
  const std::shared_ptr<const clsShieldedResource> &Item(int32_t position) const;
  // The definition with this host and mask, letter case ignored (an empty host only matches an
  // empty host here), or nullptr.
  std::shared_ptr<const clsShieldedResource> ItemByHostAndResource(std::string_view host,
                                                                   std::string_view mask) const;
  // Drops every definition and reads the file, creating it empty when it is missing. A failure
  // ends the reading: the definitions before it stay.
  void Read();
  // Read, as a shield cycle does it; records keep the definitions they hold.
  void Cycle();
  // Whether a request fits a mask; traces the comparison.
  bool ContainsResource(std::string_view mask, std::string_view pathInfo,
                        std::string_view pathTranslated);

  // What the reader makes of one TRIPWIRE element: nothing for an inactive one; an attribute
  // that is not what it must be raises as it does while reading the file.
  static std::optional<clsShieldedResource::Fields> DefinitionOf(std::string_view element);
  // The value of an attribute as the reader finds it: behind the first NAME=" of the element,
  // wherever that stands.
  static std::string AttributeOf(std::string_view element, std::string_view name);

 private:
  void ReadLine(std::string_view line);
  void ReadElement(std::string_view element);
  void Append(std::shared_ptr<const clsShieldedResource> definition);
  void Clear() noexcept;
  bool Fits(const clsShieldedResource &definition, std::string_view pathInfo,
            std::string_view pathTranslated, bool trace);

  DefinitionsSettings settings_;
  std::vector<std::shared_ptr<const clsShieldedResource>> definitions_;
  // Positions by mask, and the positions of the definitions of each host and of every host.
  std::unordered_map<std::string_view, int32_t, HashIgnoringCase, EqualIgnoringCase> byMask_;
  std::unordered_map<std::string_view, std::vector<int32_t>, HashIgnoringCase, EqualIgnoringCase>
      byHost_;
  std::vector<int32_t> forEveryHost_;

  // The current request's paths, split on first need and reused from request to request.
  RequestPath pathInfo_;
  RequestPath pathTranslated_;
  bool pathInfoSplit_ = false;
  bool pathTranslatedSplit_ = false;
};

}  // namespace vantrel
