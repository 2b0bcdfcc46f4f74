#include "ShieldEventReader.h"

#include <fstream>
#include <sstream>

#include "ReportTime.h"
#include "ShieldRows.h"
#include "UrlText.h"

namespace report {

namespace {

// A word of the event log: "%hh" back to its byte, "-" for nothing. A damaged escape is kept
// as it stands: the page shows what the file holds rather than failing on it.
std::string Word(const std::string &word) {
  if (word == "-") return "";
  std::string value;
  common::AppendPercentDecoded(value, word);
  return value;
}

}  // namespace

void ReadPaceShields(const std::string &path, std::vector<Shield> &shields) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    // TIME raise pace ADDRESS HOST RESOURCE -> DEFLECT until TIME (FIGURES)
    std::istringstream words(line);
    std::string time, event, test, address, host, resource, arrow, deflect;
    if (!(words >> time >> event >> test >> address >> host >> resource >> arrow >> deflect) ||
        event != "raise" || test != "pace" || arrow != "->") {
      continue;
    }
    Shield shield;
    shield.test = test;
    shield.dateTime = time;
    shield.at = MomentFromTimeStamp(time);
    shield.remoteAddr = Word(address);
    shield.host = Word(host);
    shield.resource = Word(resource);
    shield.deflect = Word(deflect);
    std::string until, end, figures;
    if (words >> until >> end && until == "until") shield.until = MomentFromTimeStamp(end);
    // This version tells the address's offences after the end; earlier ones went on to the
    // figures.
    if (words >> std::ws && words.peek() == 'o') {
      std::string offence, count;
      words >> offence >> count;
    }
    if (std::getline(words >> std::ws, figures) && figures.size() > 2 && figures.front() == '(' &&
        figures.back() == ')') {
      common::AppendPercentDecoded(shield.paceFigures, figures.substr(1, figures.size() - 2));
    }
    shield.description = "pace test: " + PaceDescription(shield.paceFigures);
    shields.push_back(std::move(shield));
  }
}

}  // namespace report
