// The lines the plug-ins write to their error logs, counted once a cycle from where the last
// count stopped.
#include "run/PluginErrorLogs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/TempDir.h"

namespace {

using testing_support::TempDir;

void Append(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::app) << text;
}

uint64_t Lines(const host::PluginErrorLogs &logs, const std::string &plugin) {
  for (const host::PluginErrorLogs::Log &log : logs.Logs()) {
    if (log.plugin == plugin) return log.lines;
  }
  return 999;
}

TEST(PluginErrorLogs, CountsTheLinesWrittenSinceTheStartAcrossRemovalAndTruncation) {
  TempDir dir;
  const std::string vantrel = dir.File("KvVantrelErrors.LOG");
  const std::string corvane = dir.File("KvCorvaneErrors.LOG");
  Append(vantrel, "old error\r\nolder error\r\n");
  // A follow that carries on: what the logs held before it started is not its own.
  host::PluginErrorLogs carried(dir.Path(), false);
  carried.Update();
  EXPECT_EQ(Lines(carried, "KvVantrel"), 0u);
  EXPECT_EQ(Lines(carried, "KvCorvane"), 0u) << "a log not written yet";
  Append(vantrel, "1 Error: 76 Path not found\r<source>\r\n2 Error: 76");
  Append(corvane, "1 Error\r\n");
  carried.Update();
  EXPECT_EQ(Lines(carried, "KvVantrel"), 1u) << "a line still being written waits for its end";
  EXPECT_EQ(Lines(carried, "KvCorvane"), 1u);
  Append(vantrel, " Path not found\r\n");
  carried.Update();
  carried.Update();
  EXPECT_EQ(Lines(carried, "KvVantrel"), 2u) << "each line counted once";
  // Removed and written anew (an operator cleaning up), or cut short: counted from the start.
  std::filesystem::remove(vantrel);
  carried.Update();
  Append(vantrel, "a\r\nb\r\nc\r\n");
  carried.Update();
  EXPECT_EQ(Lines(carried, "KvVantrel"), 5u);
  std::ofstream(corvane, std::ios::trunc) << "x\r\n";
  carried.Update();
  EXPECT_EQ(Lines(carried, "KvCorvane"), 2u);
  // Replaced by a longer file between two counts: the new one is read from its start.
  Append(dir.File("new"), "d\r\ne\r\nf\r\ng\r\n");
  std::filesystem::rename(dir.File("new"), vantrel);
  carried.Update();
  EXPECT_EQ(Lines(carried, "KvVantrel"), 9u);

  // A fresh run removed the logs of the one before: everything in them is its own.
  host::PluginErrorLogs fresh(dir.Path(), true);
  fresh.Update();
  EXPECT_EQ(Lines(fresh, "KvVantrel"), 4u);
  EXPECT_EQ(Lines(fresh, "KvCorvane"), 1u);
  // A symbolic link under the log's name is not followed.
  std::filesystem::remove(corvane);
  std::filesystem::create_symlink(vantrel, corvane);
  host::PluginErrorLogs linked(dir.Path(), true);
  linked.Update();
  EXPECT_EQ(Lines(linked, "KvCorvane"), 0u);
}

}  // namespace
