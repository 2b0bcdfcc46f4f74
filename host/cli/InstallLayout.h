#pragma once

#include <string>

namespace host {

// Where flowdeck finds its plug-ins and its default files, judged from where its own program
// lies:
// - in the build tree (build/bin/flowdeck): the plug-ins in build/plugins, the repository's
//   examples/tripwires.cfg, and no configuration file (every setting at its default);
// - installed (PREFIX/bin/flowdeck beside PREFIX/lib/flowdeck): the plug-ins there, the
//   tripwires and flowdeck.conf in PREFIX/etc/flowdeck, or in /etc/flowdeck when PREFIX is /usr,
//   as the package lays them out (also below an unpacked root: ROOT/usr -> ROOT/etc/flowdeck).
// Either way a tripwires file in ./examples is the last resort.
struct InstallLayout {
  std::string pluginDir;
  std::string tripwires;  // empty when there is none
  std::string config;     // empty: the built-in defaults
  // The crawlers' published ranges flowdeck ships (PREFIX/share/flowdeck/verified-bot-ranges,
  // or the repository's examples/), read when VerifiedBotRanges is empty; empty when missing.
  std::string verifiedBotRanges;

  static InstallLayout ForProgramIn(const std::string &programDir);
  static InstallLayout ForThisProgram();
};

}  // namespace host
