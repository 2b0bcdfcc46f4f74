#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "KeyIgnoringCase.h"
#include "clsUser.h"

namespace vantrel {

// The visitors of one Vantrel object, positions 1 to Count in insertion order, found by their
// visitor key without regard to letter case.
class clsUsers {
 public:
  int32_t Count() const noexcept { return static_cast<int32_t>(users_.size()); }
  // A position outside 1 to Count is error 5.
  clsUser &Item(int32_t position) const;
  // nullptr for a key that is not present.
  clsUser *ItemByUserKey(std::string_view userKey) const;
  void Remove(int32_t position);
  // Removes every visitor the predicate holds for, in one pass; the others close up in order.
  template <class Predicate>
  void RemoveIf(Predicate &&remove);
  void Clear();
  // Records one request under its visitor, adding the visitor on its first request.
  void AddTransaction(HitAction action, double arrivalSerial, std::string_view userKey,
                      std::string_view remoteAddr, std::string_view resolvedAddr,
                      std::string_view pathInfo, std::string_view pathTranslated,
                      std::string_view host, int32_t tripwireIndex);

 private:
  std::vector<std::unique_ptr<clsUser>> users_;
  std::unordered_map<std::string_view, clsUser *, HashIgnoringCase, EqualIgnoringCase> byKey_;
};

template <class Predicate>
void clsUsers::RemoveIf(Predicate &&remove) {
  std::erase_if(users_, [&](const std::unique_ptr<clsUser> &user) {
    if (!remove(*user)) return false;
    byKey_.erase(user->UserKey());
    return true;
  });
}

}  // namespace vantrel
