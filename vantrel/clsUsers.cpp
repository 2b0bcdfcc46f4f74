#include "clsUsers.h"

#include "KvError.h"
#include "WriteTrace.h"

namespace vantrel {

namespace {
constexpr common::Site kSite{"  Class: clsUsers  ", "clsUsers"};
}

clsUser &clsUsers::Item(int32_t position) const {
  return common::Guard(kSite, "Function: Item", [&]() -> clsUser & {
    if (position < 1 || position > Count()) common::Raise(kSite, common::kInvalidArgument);
    return *users_[static_cast<size_t>(position - 1)];
  });
}

clsUser *clsUsers::ItemByUserKey(std::string_view userKey) const {
  return common::Guard(kSite, "Function: ItemByUserKey", [&]() -> clsUser * {
    const auto entry = byKey_.find(userKey);
    return entry == byKey_.end() ? nullptr : entry->second;
  });
}

void clsUsers::Remove(int32_t position) {
  common::Guard(kSite, "Sub: Remove", [&] {
    if (position < 1 || position > Count()) common::Raise(kSite, common::kInvalidArgument);
    const auto at = users_.begin() + (position - 1);
    byKey_.erase((*at)->UserKey());
    users_.erase(at);
  });
}

void clsUsers::Clear() {
  common::Guard(kSite, "Sub: Clear", [&] {
    byKey_.clear();
    while (!users_.empty()) users_.pop_back();
  });
}

void clsUsers::AddTransaction(HitAction action, double arrivalSerial, std::string_view userKey,
                              std::string_view remoteAddr, std::string_view resolvedAddr,
                              std::string_view pathInfo, std::string_view pathTranslated,
                              std::string_view host, int32_t tripwireIndex) {
  common::Guard(kSite, "Sub: AddTransaction", [&] {
    WriteTrace("Adding Hit");
    clsUser *user = ItemByUserKey(userKey);
    if (user == nullptr) {
      auto added = std::make_unique<clsUser>(std::string(userKey), std::string(remoteAddr),
                                             std::string(resolvedAddr));
      user = added.get();
      users_.push_back(std::move(added));
      byKey_.emplace(user->UserKey(), user);
      WriteTrace("\tNew User Added");
    }
    user->AddTransaction(action, arrivalSerial, pathInfo, pathTranslated, host, tripwireIndex);
  });
}

}  // namespace vantrel
