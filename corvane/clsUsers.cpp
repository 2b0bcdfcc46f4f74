#include "clsUsers.h"

#include <string>

#include "Convert.h"
#include "modCorvane.h"

namespace corvane {

namespace {

constexpr common::Site kSite{"  Class: Users  ", "clsUsers"};
}  // namespace

clsUser &clsUsers::Item(int32_t position) const {
  return common::Guard(kSite, "Function: Item",
                       [&]() -> clsUser & { return users_.At(kSite, position); });
}

clsUser *clsUsers::ItemByUserKey(std::string_view key) const {
  return users_.Find(key);
}

void clsUsers::Remove(int32_t position) {
  common::Guard(kSite, "Sub: Remove", [&] { users_.Remove(kSite, position); });
}

void clsUsers::AddTransaction(const common::StreamFields &request, double serial) {
  common::Guard(kSite, "Sub: AddTransaction", [&] {
    const std::string_view key = request[common::kKey];
    if (clsUser *user = ItemByUserKey(key)) {
      user->AddTransaction(request, serial);
      return;
    }
    WriteTrace("Adding New User for KEY=", key);
    auto user = std::make_unique<clsUser>(request, *pool_);
    user->AddTransaction(request, serial);
    users_.Add(std::move(user));
  });
}

void clsUsers::Clear() noexcept {
  users_.Clear();
}

void clsUsers::Purge(common::DateTime now) {
  users_.RemoveIf(
      [now](const clsUser &user) { return common::WholeSecondsBetween(user.Expires(), now) > 0; });
}

}  // namespace corvane
