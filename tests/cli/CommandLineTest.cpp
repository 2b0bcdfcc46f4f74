#include "cli/CommandLine.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

std::vector<std::string> ServerNames(const std::vector<std::string> &args, bool follow = true) {
  std::vector<std::string> all = {"--tripwires", "/dev/null"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<std::string> names;
  for (const host::LogInput &log : host::ParseRunOptions(all, follow).logs) {
    names.push_back(log.serverName);
  }
  return names;
}

TEST(CommandLine, GivesEachLogItsServerNameByPositionOrByPattern) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(
      ServerNames({"/l/a.log", "--server-name", "a", "/l/b.log", "--server-name", "c", "/l/c.log"}),
      (Names{"", "a", "c"}));
  // The first log takes the first name as its default: a single name names every log.
  host::RunOptions one =
      host::ParseRunOptions({"--tripwires", "/dev/null", "/l/a.log", "--server-name", "a"}, true);
  EXPECT_EQ(one.session.fields.serverName, "a");
  EXPECT_EQ(
      ServerNames({"--server-name-pattern", "*.access.log", "/var/log/shop.example.access.log",
                   "--server-name", "x", "/var/log/other.log", "/var/log/.access.log"}),
      (Names{"shop.example", "x", "x"}));
  EXPECT_EQ(ServerNames({"--server-name-pattern", "access-*.log", "/a/access-blog.log"}),
            (Names{"blog"}));
  EXPECT_THROW(ServerNames({"--server-name-pattern", "*.*.log", "/l/a.log"}), host::UsageError);
  // A log to follow may not be there yet; a log to replay must be.
  EXPECT_NO_THROW(ServerNames({"/nowhere/yet.log"}, true));
  EXPECT_THROW(ServerNames({"/nowhere/yet.log"}, false), host::UsageError);
  EXPECT_THROW(ServerNames({"/tmp"}, true), host::UsageError);
}

std::string UsageErrorOf(const std::vector<std::string> &args, bool follow) {
  std::vector<std::string> all = {"--tripwires", "/dev/null"};
  all.insert(all.end(), args.begin(), args.end());
  try {
    host::ParseRunOptions(all, follow);
  } catch (const host::UsageError &error) {
    return error.what();
  }
  return "";
}

// An option a slip away from a known one names it; one of the other command says whose it is;
// none is ever taken in the misspelt one's place.
TEST(CommandLine, AMisspeltOptionNamesTheOneMeant) {
  EXPECT_EQ(UsageErrorOf({"--shieldcycle", "5", "/l/a.log"}, true),
            "unknown option --shieldcycle; did you mean '--shield-cycle'?");
  EXPECT_EQ(UsageErrorOf({"--CONFIG", "f.conf", "/l/a.log"}, true),
            "unknown option --CONFIG; did you mean '--config'?");
  EXPECT_EQ(UsageErrorOf({"--form-start", "/l/a.log"}, true),
            "unknown option --form-start; did you mean '--from-start'?");
  EXPECT_EQ(UsageErrorOf({"--from-start", "/l/a.log"}, false),
            "--from-start is an option of 'flowdeck follow' only");
  EXPECT_EQ(UsageErrorOf({"--apply", "/l/a.log"}, true),
            "--apply is an option of 'flowdeck replay' only");
  EXPECT_EQ(UsageErrorOf({"--out=/tmp/x", "/l/a.log"}, true),
            "unknown option --out=/tmp/x; give the value as a word of its own: --out /tmp/x");
  EXPECT_EQ(UsageErrorOf({"--colour", "/l/a.log"}, true), "unknown option --colour");
  EXPECT_EQ(UsageErrorOf({"-x", "/l/a.log"}, true), "unknown option -x");
}

}  // namespace

namespace {

// A failure found deep down is put within each place that knows more of where it was, one
// helper for all, and reaches main as the kind it was raised as: a usage error still ends
// with status 2 however many places it passed.
TEST(HostError, GrowsItsSubjectOnItsWayUpAndKeepsItsKind) {
  try {
    host::Within("flowdeck.conf:12", [] {
      host::Within("", [] { throw host::Error::Setting("NftTable", "x y", "not a name"); });
    });
    ADD_FAILURE() << "the error must leave";
  } catch (const host::Error &error) {
    EXPECT_EQ(std::string(error.what()), "flowdeck.conf:12: NftTable = 'x y': not a name");
    EXPECT_EQ(error.Subject(), "flowdeck.conf:12: NftTable = 'x y'");
    EXPECT_EQ(error.Cause(), "not a name");
  }
  EXPECT_THROW(host::Within("--config f.conf", [] { throw host::UsageError("no log given"); }),
               host::UsageError);
  try {
    host::Within("--listen", [] { throw host::UsageError("expected udp://"); });
  } catch (const host::UsageError &error) {
    EXPECT_EQ(std::string(error.what()), "--listen: expected udp://");
  }
  EXPECT_EQ(std::string(host::Error("", "c-ares cannot start").what()), "c-ares cannot start");
  // A setting the configuration cannot use is a usage error naming file, line and setting.
  testing_support::TempDir dir;
  testing_support::WriteFile(dir.File("f.conf"), "# settings\nPeriodBase = soon\n");
  try {
    host::ParseRunOptions({"--config", dir.File("f.conf"), "--tripwires", "/dev/null", "a.log"},
                          true);
    ADD_FAILURE() << "a setting that cannot be used is a usage error";
  } catch (const host::UsageError &error) {
    EXPECT_EQ(error.Subject(), dir.File("f.conf") + ":2: PeriodBase = 'soon'");
    EXPECT_TRUE(std::string(error.what()).starts_with(error.Subject() + ": ")) << error.what();
  }
}

}  // namespace
