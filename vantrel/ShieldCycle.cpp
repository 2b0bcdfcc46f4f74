#include "ShieldCycle.h"

#include <unordered_map>

#include "Clock.h"
#include "Convert.h"
#include "SharedObjects.h"
#include "WriteTrace.h"
#include "clsShieldedResources.h"
#include "modVantrel.h"

namespace vantrel {

namespace {

constexpr common::Site kSite{"  Class: Vantrel  ", "Vantrel"};

// The hits a record needs: fewer the more sensitive its tripwire.
int16_t RequiredHits(const clsShieldedResource &definition) {
  return gConfig().MinimumHits(kSite, definition.Sensitivity());
}

// The correlation a record needs: lower the stronger its tripwire. Compared in 32 bits, so a
// correlation that rounds to the threshold reaches it; the monitor compares unrounded.
float Threshold(const clsShieldedResource &definition) {
  return static_cast<float>(gConfig().RatingThreshold(definition.Strength()));
}

}  // namespace

void ShieldCycle::Run() {
  WriteTrace("Cycle Started");
  PurgeIdleUsers();
  WriteTrace("\tUsers purged");
  DropOrphanedRecords();
  WriteTrace("\tResources updated");
  try {
    JudgeRecords();
  } catch (...) {
    FinishAfterFailure();
    throw;
  }
  if (!file_.IsOpen() && file_.HasUnfiled()) file_.Open();
  if (file_.IsOpen()) file_.CloseAndReplace();
  if (firstRecordFailure_) throw *firstRecordFailure_;
}

void ShieldCycle::PurgeIdleUsers() {
  const common::DateTime now = common::Now();
  users_.RemoveIf(
      [&](const clsUser &user) { return common::WholeSecondsBetween(user.Expires(), now) > 0; });
}

void ShieldCycle::DropOrphanedRecords() {
  clsShieldedResources &definitions = gShieldedResources();
  definitions.Cycle();
  // Many records share a tripwire: ask once per old definition.
  std::unordered_map<const clsShieldedResource *, bool> stillDefined;
  auto isOrphaned = [&](const clsResource &record) {
    const clsShieldedResource *old = record.ShieldedResource().get();
    const auto [entry, added] = stillDefined.try_emplace(old, false);
    if (added)
      entry->second = definitions.ItemByHostAndResource(old->Host(), old->Resource()) != nullptr;
    return !entry->second;
  };
  const int32_t count = users_.Count();
  for (int32_t i = 1; i <= count; ++i) users_.Item(i).Resources().RemoveIf(isOrphaned);
}

void ShieldCycle::JudgeRecords() {
  // Settings never loaded hold 0 for every number, which every record would pass. (Nothing is
  // traced: the trace switch is the last setting a CONFIG stores, so it is off until then.)
  if (!gConfig().IsLoaded()) return;
  WriteTrace("\tLooping to check ", users_.Count(), " users");
  const int32_t userCount = users_.Count();
  for (int32_t i = 1; i <= userCount; ++i) {
    const clsUser &user = users_.Item(i);
    clsResources &records = users_.Item(i).Resources();
    const int32_t recordCount = records.Count();
    for (int32_t j = 1; j <= recordCount; ++j) {
      clsResource &record = records.Item(j);
      WriteTrace("\tUser #", i, " Resource #", j,
                 " IsShielded=", common::BooleanText(record.IsShielded()));
      if (!record.IsShielded()) Judge(user, record);
    }
  }
}

void ShieldCycle::Judge(const clsUser &user, clsResource &record) {
  const clsShieldedResource &definition = *record.ShieldedResource();
  const int32_t hits = record.Hits().Count();
  const std::optional<int16_t> required = ForRecord([&] { return RequiredHits(definition); });
  if (!required) return;
  WriteTrace("\t\tHits.Count=", hits, " Sensitivity Count=", *required);
  if (hits < *required) return;
  const float factor = record.Hits().Correlation();
  const float threshold = Threshold(definition);
  WriteTrace("\t\tPearsonsR=", common::TracedNumber{factor, 15},
             " Strength=", common::TracedNumber{threshold, 7});
  if (factor < threshold) return;
  const std::optional<std::string> deflect = ForRecord([&] {
    return BuildDeflectString(record.Resource(), record.PathTranslated(), definition.Deflect());
  });
  if (deflect) RaiseShield(user, record, definition, hits, factor, *deflect);
}

void ShieldCycle::RaiseShield(const clsUser &user, clsResource &record,
                              const clsShieldedResource &definition, int32_t hits, float factor,
                              const std::string &deflect) {
  if (!file_.IsOpen()) file_.Open();
  file_.WriteTripwire(user, record, definition, hits, factor);
  WriteTrace("\t\tShielded resource written to XML file");
  const common::clsConfig &config = gConfig();
  SendShieldToHost(config.Server(), config.FlowdeckURL(), config.FlowdeckFilterURI(),
                   config.AddShieldURL(), user.RemoteAddr(), record.Host(), record.Resource(),
                   deflect);
  WriteTrace("\t\tShield sent to Flowdeck");
}

void ShieldCycle::FinishAfterFailure() noexcept {
  if (!file_.IsOpen()) return;
  try {
    file_.CloseAndReplace();
  } catch (...) {
    // The failure that ended the cycle is the one to report.
  }
}

}  // namespace vantrel
