#include "clsUsers.h"

#include "KvError.h"
#include "WriteTrace.h"

namespace vantrel {

namespace {
constexpr common::Site kSite{"  Class: clsUsers  ", "clsUsers"};
}

clsUser &clsUsers::Item(int32_t position) const {
  return common::Guard(kSite, "Function: Item",
                       [&]() -> clsUser & { return users_.At(kSite, position); });
}

clsUser *clsUsers::ItemByUserKey(std::string_view userKey) const {
  return common::Guard(kSite, "Function: ItemByUserKey",
                       [&]() -> clsUser * { return users_.Find(userKey); });
}

void clsUsers::Remove(int32_t position) {
  common::Guard(kSite, "Sub: Remove", [&] { users_.Remove(kSite, position); });
}

void clsUsers::Clear() {
  common::Guard(kSite, "Sub: Clear", [&] { users_.Clear(); });
}

void clsUsers::AddTransaction(HitAction action, double arrivalSerial, std::string_view userKey,
                              std::string_view remoteAddr, std::string_view resolvedAddr,
                              std::string_view pathInfo, std::string_view pathTranslated,
                              std::string_view host, int32_t tripwireIndex) {
  common::Guard(kSite, "Sub: AddTransaction", [&] {
    WriteTrace("Adding Hit");
    clsUser *user = ItemByUserKey(userKey);
    if (user == nullptr) {
      user = &users_.Add(std::make_unique<clsUser>(std::string(userKey), std::string(remoteAddr),
                                                   std::string(resolvedAddr)));
      WriteTrace("\tNew User Added");
    }
    user->AddTransaction(action, arrivalSerial, pathInfo, pathTranslated, host, tripwireIndex);
  });
}

}  // namespace vantrel
