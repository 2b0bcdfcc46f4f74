#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "KeyIgnoringCase.h"
#include "RequestPath.h"
#include "clsShieldedResource.h"

namespace vantrel {

// The active tripwire definitions of the definitions file "KvVantrel.CFG", positions 1 to Count
// in file order, keyed by their mask without regard to letter case.
class clsShieldedResources {
 public:
  // Reads the definitions file, creating it empty when it is missing.
  clsShieldedResources();
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
  // Drops every definition and reads the file again; records keep the definitions they hold.
  void Cycle();
  // Whether a request fits a mask; traces the comparison.
  bool ContainsResource(std::string_view mask, std::string_view pathInfo,
                        std::string_view pathTranslated);

 private:
  void ReadDefinitionsFile();
  void ReadLine(std::string_view line);
  void ReadElement(std::string_view element);
  void Append(std::shared_ptr<const clsShieldedResource> definition);
  void Clear() noexcept;
  bool Fits(const clsShieldedResource &definition, std::string_view pathInfo,
            std::string_view pathTranslated, bool trace);

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
