#pragma once

#include <cstdint>
#include <string_view>

#include "DateTime.h"
#include "KeyedList.h"
#include "StreamFields.h"
#include "StringPool.h"
#include "clsUser.h"

namespace corvane {

// All visitors: positions 1 to Count in the order they came, and a lookup by visitor key that
// ignores ASCII letter case.
class clsUsers {
 public:
  explicit clsUsers(StringPool &pool) noexcept : pool_(&pool) {}
  clsUsers(const clsUsers &) = delete;
  clsUsers &operator=(const clsUsers &) = delete;

  int32_t Count() const noexcept { return users_.Count(); }
  // The visitor at a position from 1 to Count; error 5 elsewhere.
  clsUser &Item(int32_t position) const;
  // The visitor with a key, in any letter case; nullptr when there is none.
  clsUser *ItemByUserKey(std::string_view key) const;
  // Removes the visitor at a position; later ones move down by one.
  void Remove(int32_t position);
  // Records a request under its visitor, creating the visitor on its first request. A visitor
  // joins the collection only with its first hit in place.
  void AddTransaction(const common::StreamFields &request, double serial);
  void Clear() noexcept;
  // Removes in one pass every visitor that expired a whole second or more before now; the
  // others keep their order.
  void Purge(common::DateTime now);

 private:
  struct ByKey : common::TextKeyIgnoringCase {
    static std::string_view KeyOf(const clsUser &user) noexcept { return user.Key(); }
  };

  StringPool *pool_;
  common::KeyedList<clsUser, ByKey> users_;
};

}  // namespace corvane
