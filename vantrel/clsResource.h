#pragma once

#include <memory>
#include <string>

#include "clsHits.h"
#include "clsShieldedResource.h"

namespace vantrel {

// A visitor's activity on one host and request path: the tripwire it fell under and its hits.
class clsResource {
 public:
  clsResource(std::shared_ptr<const clsShieldedResource> shieldedResource, std::string host,
              std::string resource, std::string pathTranslated);
  clsResource(const clsResource &) = delete;
  clsResource &operator=(const clsResource &) = delete;

  const std::shared_ptr<const clsShieldedResource> &ShieldedResource() const noexcept {
    return shieldedResource_;
  }
  bool IsShielded() const noexcept { return isShielded_; }
  // Marks the record shielded for good; its hits are no longer kept.
  void MarkShielded() noexcept;
  const std::string &Host() const noexcept { return host_; }
  const std::string &Resource() const noexcept { return resource_; }
  const std::string &PathTranslated() const noexcept { return pathTranslated_; }
  const clsHits &Hits() const noexcept { return hits_; }

  void AddHit(HitAction action, double arrivalSerial);

 private:
  std::shared_ptr<const clsShieldedResource> shieldedResource_;
  bool isShielded_ = false;
  std::string host_;
  std::string resource_;
  std::string pathTranslated_;
  clsHits hits_;
};

}  // namespace vantrel
