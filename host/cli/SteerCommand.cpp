#include "cli/SteerCommand.h"

#include <ostream>

#include "base/Say.h"
#include "run/ShieldSteering.h"
#include "shield/SteerOrder.h"

namespace host {

bool IsSteerCommand(const std::string &command) {
  return command == "shields" || command == "lift" || command == "shield" || command == "allow";
}

std::string SteerHelp(const std::string &verb) {
  if (verb == "shields") {
    return "usage: flowdeck shields DIR [--json] [--first N]\n\n"
           "Lists every shield in force in the run whose --out is DIR: address, host, resource\n"
           "(or 'whole address'), deflect, source, raised, lifts, the address's offences.\n"
           "--json prints one JSON document whose shields have the fields address, host,\n"
           "resource, deflect, source, raised, lifts, offences. --first N lists the first N\n"
           "and counts the rest.\n";
  }
  if (verb == "lift") {
    return "usage: flowdeck lift DIR ADDRESS|CIDR [--host HOST] [--resource PATH]\n"
           "       flowdeck lift DIR --all\n\n"
           "Lifts the shields of the address or range (of one host and resource when given)\n"
           "now, through every action, and prints what it lifted. A lift by hand is no\n"
           "offence; a visitor that keeps its pace is judged afresh and may be shielded again\n"
           "(use 'flowdeck allow' to keep it out of reach).\n";
  }
  if (verb == "shield") {
    return "usage: flowdeck shield DIR ADDRESS [--host HOST --resource PATH] [--seconds N]\n"
           "                       [--deflect PATH]\n\n"
           "Raises a shield by hand (source 'manual') through every action: of one host and\n"
           "resource, or without them of the whole address. --seconds takes a duration (90s,\n"
           "15m, 12h, 7d, 1w or seconds; default: the lifetime the address's offences give).\n"
           "--deflect defaults to /flowdeck-slow-down.html.\n";
  }
  return "usage: flowdeck allow DIR ADDRESS|CIDR [--for DURATION] [--why TEXT]\n"
         "       flowdeck allow DIR --remove ADDRESS|CIDR | --list\n\n"
         "Keeps an address or range out of the shields' reach, as NeverShield does, for good\n"
         "or for a DURATION (90s, 15m, 12h, 7d, 1w or seconds); adding it lifts the shields\n"
         "it covers.\n";
}

int RunSteer(const std::string &verb, const std::vector<std::string> &args, std::ostream &out,
             std::ostream &err) {
  for (const std::string &arg : args) {
    if (arg == "--help" || arg == "-h") {
      out << SteerHelp(verb) << "\n"
          << "Exit status: 0 done, 1 failed, 2 bad usage, 3 no such shield or entry.\n";
      return kSteerDone;
    }
  }
  if (args.empty()) {
    Say(err, Level::kFailure, "no run directory given");
    err << SteerHelp(verb);
    return kSteerUsage;
  }
  const std::string &dir = args[0];
  std::vector<std::string> words{verb};
  words.insert(words.end(), args.begin() + 1, args.end());
  SteerOrder order;
  try {
    order = SteerOrder::Parse(words);
  } catch (const OrderError &error) {
    Say(err, Level::kFailure, error.what());
    err << "Try 'flowdeck " << verb << " --help'.\n";
    return kSteerUsage;
  }
  ControlReply reply;
  try {
    reply = SteerRun(dir, order);
  } catch (const std::exception &error) {
    Say(err, Level::kFailure, error.what());
    return kSteerFailed;
  }
  out << reply.out;
  if (!reply.err.empty()) {
    std::string_view said = reply.err;
    if (said.back() == '\n') said.remove_suffix(1);
    Say(err, Level::kFailure, said);
  }
  return reply.status;
}

}  // namespace host
