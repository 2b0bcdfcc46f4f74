#include "ShieldEventReader.h"

#include <fstream>
#include <sstream>

#include "ReportTime.h"

namespace report {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A word of the event log: "%hh" back to its byte, "-" for nothing. A damaged escape is kept
// as it stands: the page shows what the file holds rather than failing on it.
std::string Word(const std::string &word) {
  if (word == "-") return "";
  std::string value;
  for (size_t i = 0; i < word.size(); ++i) {
    const int high = word[i] == '%' && i + 2 < word.size() ? HexDigit(word[i + 1]) : -1;
    const int low = high >= 0 ? HexDigit(word[i + 2]) : -1;
    if (low >= 0) {
      value.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      value.push_back(word[i]);
    }
  }
  return value;
}

}  // namespace

void ReadPaceShields(const std::string &path, std::vector<Shield> &shields) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    // TIME raise pace ADDRESS HOST RESOURCE -> DEFLECT until TIME
    std::istringstream words(line);
    std::string time, event, test, address, host, resource, arrow, deflect;
    if (!(words >> time >> event >> test >> address >> host >> resource >> arrow >> deflect) ||
        event != "raise" || test != "pace" || arrow != "->") {
      continue;
    }
    Shield shield;
    shield.test = test;
    shield.dateTime = time;
    shield.at = MomentFromIsoUtc(time);
    shield.remoteAddr = Word(address);
    shield.host = Word(host);
    shield.resource = Word(resource);
    shield.deflect = Word(deflect);
    shield.description = "pace test: delays drawn at random";
    shields.push_back(std::move(shield));
  }
}

}  // namespace report
