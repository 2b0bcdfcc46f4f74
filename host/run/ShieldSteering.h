#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/Shield.h"
#include "run/ControlReply.h"
#include "shield/AllowList.h"
#include "shield/SteerOrder.h"

namespace host {

// The shields in force as an operator reads them: a table, or one JSON document for scripts.
struct ShieldListing {
  std::vector<Shield> shields;
  std::function<int(const Shield &)> offences;

  // Aligned columns, a header first; at most `most` rows (0: all), then how many more there are.
  std::string Table(size_t most = 0) const;
  // {"shields": [{"address", "host", "resource", "deflect", "source", "raised", "lifts",
  // "offences"}, ...]}: times in RFC 3339 with offset, "lifts" null for a shield raised by hand
  // while no follow ran whose lifetime the next start gives.
  std::string Json() const;
};

// A shield as a line of a command's answer: "203.0.113.9 on shop.example/login", "198.51.100.7
// on the whole address".
std::string ShieldName(const Shield &shield);
// An allow-list entry added, as a command answers it.
std::string AllowedLine(const AllowEntry &entry);

// The allow list as a table.
std::string AllowTable(const std::vector<AllowEntry> &entries);

// Sends the order to the follow that runs on the directory, which carries it out at once; when
// none runs, carries it out on the files (SteerFiles). Throws Error with the path
// and the cause when neither can be done.
ControlReply SteerRun(const std::string &runDirectory, const SteerOrder &order);

// Carries an order out on the files of a run directory no follow runs on, so that the next
// start carries it out: shields raised or lifted are marked pending in the shield record,
// allow-list entries go to the allow list (the shields it covers are lifted at the next start).
ControlReply SteerFiles(const std::string &runDirectory, const SteerOrder &order, int64_t now);

}  // namespace host
