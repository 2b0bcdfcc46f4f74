#pragma once

#include <cstdint>
#include <string_view>

#include "KeyedList.h"
#include "clsUser.h"

namespace vantrel {

// The visitors of one Vantrel object, positions 1 to Count in insertion order, found by their
// visitor key without regard to letter case.
class clsUsers {
 public:
  int32_t Count() const noexcept { return users_.Count(); }
  // A position outside 1 to Count is error 5.
  clsUser &Item(int32_t position) const;
  // nullptr for a key that is not present.
  clsUser *ItemByUserKey(std::string_view userKey) const;
  void Remove(int32_t position);
  // Removes every visitor the predicate holds for, in one pass; the others close up in order.
  template <class Predicate>
  void RemoveIf(Predicate &&remove) {
    users_.RemoveIf(remove);
  }
  void Clear();
  // Records one request under its visitor, adding the visitor on its first request.
  void AddTransaction(HitAction action, double arrivalSerial, std::string_view userKey,
                      std::string_view remoteAddr, std::string_view resolvedAddr,
                      std::string_view pathInfo, std::string_view pathTranslated,
                      std::string_view host, int32_t tripwireIndex);

 private:
  struct ByUserKey : common::TextKeyIgnoringCase {
    static std::string_view KeyOf(const clsUser &user) noexcept { return user.UserKey(); }
  };

  common::KeyedList<clsUser, ByUserKey> users_;
};

}  // namespace vantrel
