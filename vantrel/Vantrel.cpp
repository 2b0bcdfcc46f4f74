#include "Vantrel.h"

#include <new>

#include "Convert.h"
#include "Logs.h"
#include "SharedObjects.h"
#include "ShieldCycle.h"
#include "StreamRouting.h"
#include "clsShieldedResources.h"

namespace vantrel {

namespace {
constexpr common::Site kSite{"  Class: Vantrel  ", "Vantrel"};
}

Vantrel::Vantrel() = default;

Vantrel::~Vantrel() {
  try {
    mUsers.Clear();
  } catch (...) {
    // Releasing memory does not fail; nothing may leave a destructor.
  }
  ReleaseSharedObjects();
}

void Vantrel::Stream(const common::StreamFields &fields) {
  common::RunStream(kSite, [&] {
    common::RouteStream(
        fields, gConfig(), [&] { ProcessCycle(); }, [&] { mUsers.Clear(); },
        [&](std::string_view action) {
          if (const std::optional<HitAction> method = HitActionOf(action)) {
            RecordRequest(*method, fields);
          }
        });
  });
}

void Vantrel::RecordRequest(HitAction method, const common::StreamFields &fields) {
  const int32_t index = gShieldedResources().ProtectedResourceIndex(
      fields[common::kServerName], fields[common::kPathInfo], fields[common::kPathTranslated]);
  if (index == 0) return;
  const double serial = common::TextToDouble(kSite, fields[common::kArrivalSerial]);
  mUsers.AddTransaction(method, serial, fields[common::kKey], fields[common::kRemoteAddr],
                        fields[common::kResolvedAddr], fields[common::kPathInfo],
                        fields[common::kPathTranslated], fields[common::kServerName], index);
}

void Vantrel::ProcessCycle() {
  // The cycle puts its own segment behind the source it hands on, not in front.
  try {
    try {
      ShieldCycle(mUsers, mUnfiledTripwires).Run();
    } catch (const std::bad_alloc &) {
      common::Raise(kSite, common::kOutOfMemory);
    }
  } catch (common::KvError &error) {
    error.Append(kSite.label, "Sub: ProcessCycle");
    throw;
  }
}

}  // namespace vantrel
