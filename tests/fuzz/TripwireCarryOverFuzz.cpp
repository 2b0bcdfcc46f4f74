// Any bytes as the tripwire file a cycle finds, then a cycle that raises one shield. The new
// file begins with its head, carries every TRIPWIRE line of the old one unchanged and in order,
// adds the new shield's line and ends with its closing lines; it is well-formed XML whenever
// the carried lines are (they are copied as they are, so a hostile line stays hostile).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzDirectory.h"
#include "OutputChecks.h"
#include "StreamFields.h"
#include "Vantrel.h"

namespace {

using fuzzing::Require;

constexpr std::string_view kDefinitions =
    "<TRIPWIRE ACTIVE=\"True\" DESCRIPTION=\"probe\" HOST=\"\" RESOURCE=\"/probe/*.*\" "
    "DEFLECT=\"/sorry/*.htm\" SENSITIVITY=\"0\" STRENGTH=\"0\" INVERSE=\"False\" "
    "CARRYPARAMETERS=\"False\" />\r\n";
// Three hits and a correlation of 0.5 raise a shield; shield requests go to this machine.
constexpr std::string_view kSettings =
    "127.0.0.1;/flowdeck;/filter;A=1;R=1;0.5;0.1;3;0;False;;False";
constexpr std::string_view kVisitorAddress = "10.9.8.7";

common::StreamFields Call(std::string_view action, std::string_view serial = {},
                          std::string_view settings = {}) {
  common::StreamFields fields{};
  fields[common::kAction] = action;
  fields[common::kArrivalSerial] = serial;
  fields[common::kKey] = "probe-visitor";
  fields[common::kRemoteAddr] = kVisitorAddress;
  fields[common::kResolvedAddr] = "probe.example";
  fields[common::kServerName] = "shop";
  fields[common::kPathInfo] = "/probe/run.cgi";
  fields[common::kUserAgent] = settings;
  return fields;
}

// Four requests one second apart: a steady pace, then the cycle that judges it.
void RaiseOneShield() {
  vantrel::Vantrel shield;
  shield.Stream(Call("CONFIG", {}, kSettings));
  for (std::string_view serial :
       {"40305140000000", "40305140001000", "40305140002000", "40305140003000"}) {
    shield.Stream(Call("GET", serial));
  }
  shield.Stream(Call("CYCLE"));
}

bool WellFormedTogether(const std::vector<std::string> &lines) {
  std::string document("<R>\n");
  for (const std::string &line : lines) document.append(line).append("\n");
  document.append("</R>\n");
  return fuzzing::ParseXml(document) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static fuzzing::FuzzDirectory directory;
  directory.StartInput();
  const std::string_view oldFile(reinterpret_cast<const char *>(data), size);
  const std::string tripwirePath = directory.File("KvVantrel.xml");
  fuzzing::WriteWholeFile(directory.File("KvVantrel.CFG"), kDefinitions);
  fuzzing::WriteWholeFile(tripwirePath, oldFile);
  RaiseOneShield();
  Require(!fuzzing::FileExists(directory.File("KvVantrelErrors.LOG")),
          "an old tripwire file never makes the cycle fail");

  std::vector<std::string> carried;
  for (std::string &line : fuzzing::LinesAsRead(oldFile)) {
    if (line.find("<TRIPWIRE ") != std::string::npos) carried.push_back(std::move(line));
  }
  const std::string newFile = fuzzing::ReadWholeFile(tripwirePath);
  Require(newFile.ends_with("\r\n"), "the new tripwire file ends with a whole line");
  const std::vector<std::string> lines = fuzzing::LinesAsRead(newFile);
  Require(lines.size() == carried.size() + 6, "the new file holds its own lines and the carried");
  Require(lines[0] == "<?xml version=\"1.0\"?>" && lines[1] == "<KELVARIN>" &&
              lines[2] == "\t<TRIPWIRES>",
          "the new file begins with its head");
  for (size_t i = 0; i < carried.size(); ++i) {
    Require(lines[3 + i] == carried[i], "a carried line is copied unchanged and in order");
  }
  const std::string &added = lines[3 + carried.size()];
  Require(added.starts_with("\t\t<TRIPWIRE DATETIME=\"") &&
              added.find(" REMOTEADDR=\"10.9.8.7\" ") != std::string::npos &&
              added.ends_with(" />"),
          "the new shield's line follows the carried ones");
  Require(
      lines[4 + carried.size()] == "\t</TRIPWIRES>" && lines[5 + carried.size()] == "</KELVARIN>",
      "the new file ends with its closing lines");
  if (WellFormedTogether(carried)) {
    Require(fuzzing::ParseXml(newFile) != nullptr,
            "the new file is well-formed when the carried lines are");
  }
  return 0;
}
