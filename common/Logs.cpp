#include "Logs.h"

#include <string>

#include "Clock.h"
#include "PluginDirectory.h"
#include "Project.h"
#include "TextFile.h"

namespace common {

namespace {

constexpr Site kLogSite{"  Module: modKvGlobal  ", ""};

std::string LogPath(std::string_view suffix) {
  std::string name(ProjectName());
  name.append(suffix);
  return PluginFile(name);
}

}  // namespace

void AppendTrace(std::string_view text) {
  AppendLine(kLogSite, LogPath("Trace.LOG"), text);
}

std::string ErrorLogLine(std::string_view classLabel, const KvError &error) {
  std::string line = FormatGeneralDate(Now());
  line.append(" Error: ")
      .append(std::to_string(error.Number()))
      .append(" ")
      .append(error.Description())
      .append(" Error Source: ")
      .append(classLabel)
      .append("Sub: Stream")
      .append(1, '\r')
      .append(error.Source());
  return line;
}

void WriteErrorLog(std::string_view classLabel, const KvError &error) {
  AppendLine(kLogSite, LogPath("Errors.LOG"), ErrorLogLine(classLabel, error));
}

}  // namespace common
