#include "clsUsers.h"

#include <string>

#include "Convert.h"
#include "modCorvane.h"

namespace corvane {

namespace {

constexpr common::Site kSite{"  Class: Users  ", "clsUsers"};
}  // namespace

clsUser &clsUsers::Item(int32_t position) const {
  return common::Guard(kSite, "Function: Item", [&]() -> clsUser & {
    if (position < 1 || position > Count()) common::Raise(kSite, common::kInvalidArgument);
    return *users_[static_cast<size_t>(position - 1)];
  });
}

clsUser *clsUsers::ItemByUserKey(std::string_view key) const {
  return byKey_.Find(key);
}

void clsUsers::Remove(int32_t position) {
  common::Guard(kSite, "Sub: Remove", [&] {
    if (position < 1 || position > Count()) common::Raise(kSite, common::kInvalidArgument);
    const auto at = users_.begin() + (position - 1);
    byKey_.Erase(**at);
    users_.erase(at);
  });
}

void clsUsers::AddTransaction(const common::StreamFields &request, double serial) {
  common::Guard(kSite, "Sub: AddTransaction", [&] {
    const std::string_view key = request[common::kKey];
    if (clsUser *user = ItemByUserKey(key)) {
      user->AddTransaction(request, serial);
      return;
    }
    if (gConfig().Trace()) WriteTrace(std::string("Adding New User for KEY=").append(key));
    auto user = std::make_unique<clsUser>(request, *pool_);
    user->AddTransaction(request, serial);
    Insert(std::move(user));
  });
}

void clsUsers::Insert(std::unique_ptr<clsUser> user) {
  clsUser &added = *user;
  users_.push_back(std::move(user));
  try {
    byKey_.Insert(added);
  } catch (...) {
    users_.pop_back();
    throw;
  }
}

void clsUsers::Clear() noexcept {
  byKey_.Clear();
  while (!users_.empty()) users_.pop_back();
}

void clsUsers::Purge(common::DateTime now) {
  const auto expired = [now](const std::unique_ptr<clsUser> &user) {
    return common::WholeSecondsBetween(user->Expires(), now) > 0;
  };
  for (const auto &user : users_) {
    if (expired(user)) byKey_.Erase(*user);
  }
  std::erase_if(users_, expired);
}

}  // namespace corvane
