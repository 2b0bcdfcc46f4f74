// The definitions file checked before the shield plug-in is given it: every fault that would
// stop the plug-in's reading, or that it would take without a word, named with its line and
// attribute; every file that passes read whole by the plug-in's own reader.
#include "shield/TripwireCheck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "shield/TripwireDefinitions.h"
#include "shield/TripwireWatch.h"
#include "support/TempDir.h"

namespace {

using host::TripwireCheck;

// An active element with every attribute, as the examples write one.
const std::string kElement =
    "<TRIPWIRE ACTIVE=\"True\" DESCRIPTION=\"probes\" HOST=\"\" RESOURCE=\"/a/*.*\" "
    "DEFLECT=\"/sorry/*.htm\" SENSITIVITY=\"5\" STRENGTH=\"2\" INVERSE=\"False\" "
    "CARRYPARAMETERS=\"False\" />";

// The element with the first `from` in it made `to`.
std::string With(const std::string &from, const std::string &to) {
  std::string element = kElement;
  const size_t at = element.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? element : element.replace(at, from.size(), to);
}

// The element with one attribute's value set.
std::string Set(const std::string &name, const std::string &value) {
  const size_t start = kElement.find(" " + name + "=\"") + name.size() + 3;
  std::string element = kElement;
  return element.replace(start, element.find('"', start) - start, value);
}

// A file with the element on line 3, behind the heading a real file has.
std::string File(const std::string &element) {
  return "<?xml version=\"1.0\"?>\n<TRIPWIRES>\n" + element + "\n</TRIPWIRES>\n";
}

TEST(TripwireCheck, EachFaultIsNamedWithItsLineAndAttribute) {
  struct Case {
    std::string element, said;
  };
  const std::vector<Case> cases = {
      {With("SENSITIVITY=", "SENSITIVTY="),
       "SENSITIVTY is no TRIPWIRE attribute (did you mean SENSITIVITY?)"},
      {With("SENSITIVITY=", "sensitivity="), "names are upper case: SENSITIVITY"},
      {With(" SENSITIVITY=\"5\"", ""), "SENSITIVITY is missing"},
      {Set("SENSITIVITY", "five"), "SENSITIVITY=\"five\" is not a number"},
      {Set("STRENGTH", "40000"), "STRENGTH=\"40000\" is outside -32768 to 32767"},
      {Set("INVERSE", "maybe"), "INVERSE=\"maybe\" is neither True, False nor a number"},
      {With(" CARRYPARAMETERS=\"False\"", ""), "CARRYPARAMETERS is missing: True or False"},
      {With("ACTIVE=\"True\" ", ""), "ACTIVE is missing"},
      {Set("ACTIVE", "yes"), "ACTIVE=\"yes\" is neither"},
      {Set("HOST", "http://shop.example"),
       "HOST=\"http://shop.example\" is never a request's host"},
      {Set("HOST", "*.example"), "HOST=\"*.example\" is never"},
      {Set("RESOURCE", ""), "RESOURCE is missing or empty"},
      {Set("RESOURCE", "scripts/*.*"),
       "RESOURCE=\"scripts/*.*\" never fits a request: a request's path begins with '/'"},
      {Set("RESOURCE", "/admin/"), "RESOURCE=\"/admin/\" never fits a request: it ends with '/'"},
      {Set("RESOURCE", "C:\\site\\*.*"), "RESOURCE=\"C:\\site\\*.*\" never fits"},
      {Set("RESOURCE", "/login.php?user=1"), "never holds its query"},
      {Set("RESOURCE", "/a%20b.htm"), "compared percent-decoded"},
      {Set("RESOURCE", "/adm*/x.htm"), "'*' is a wildcard only as a whole"},
      {Set("RESOURCE", "/x/*.ph*"), "RESOURCE=\"/x/*.ph*\" never fits"},
      {Set("DEFLECT", "/so*ry/x.htm"), "DEFLECT=\"/so*ry/x.htm\" is refused by the plug-in"},
      {Set("DEFLECT", "*.htm"), "DEFLECT=\"*.htm\" is refused by the plug-in"},
      {Set("DEFLECT", "sorry/x.htm"), "DEFLECT=\"sorry/x.htm\" would be refused at every shield"},
      {Set("DEFLECT", "/sorry/../x.htm"), "would be refused at every shield"},
      {With(" DESCRIPTION", " junk DESCRIPTION"), "'junk' is no NAME=\"value\""},
      {With(" />", " HOST=\"shop.example\" />"), "HOST is given twice"},
      {Set("DESCRIPTION", "see HOST="), "HOST: the plug-in finds 'HOST=\"' inside another"},
      {With(" />", ""), "does not end with '/>' on its line"},
      {With("<TRIPWIRE ", "<Tripwire "), "'<Tripwire ' is passed over"},
      {With("<TRIPWIRE ", "<TRIPWIRE\t"), "is passed over"},
      {"<TRIPWIRE ACTIVE=\"True\" DESCRIPTION=\"x />", "DESCRIPTION: its value has no closing"},
  };
  for (const Case &c : cases) {
    const TripwireCheck check("t.cfg", File(c.element));
    EXPECT_FALSE(check.Passed()) << c.element;
    for (const std::string &fault : check.Faults()) {
      EXPECT_TRUE(fault.starts_with("t.cfg:3: ")) << fault;
    }
    EXPECT_NE(check.Describe().find(c.said), std::string::npos) << c.element << "\n"
                                                                << check.Describe();
  }
}

TEST(TripwireCheck, ARepeatedMaskIsAFaultOfTheSecondAndInactiveElementsAreReadAsThePluginReads) {
  const TripwireCheck repeated("t.cfg", File(kElement + "\n" + Set("RESOURCE", "/A/*.*")));
  ASSERT_EQ(repeated.Faults().size(), 1u) << repeated.Describe();
  EXPECT_EQ(repeated.Faults()[0],
            "t.cfg:4: RESOURCE=\"/A/*.*\" is the mask of line 3 too, letter case ignored: the "
            "plug-in stops reading there");

  // The plug-in reads nothing but ACTIVE of an inactive element; a misspelt name is still one.
  const TripwireCheck inactive("t.cfg", File("<TRIPWIRE ACTIVE=\"False\" RESOURCE=\"nowhere\" />"));
  EXPECT_TRUE(inactive.Passed()) << inactive.Describe();
  EXPECT_EQ(inactive.Active(), 0);
  EXPECT_FALSE(
      TripwireCheck("t.cfg", File("<TRIPWIRE ACTIVE=\"False\" SENSITIVTY=\"5\" />")).Passed());

  // Text that is no attribute is the element's one fault: what follows is not guessed at.
  EXPECT_EQ(TripwireCheck("t.cfg", File(With(" DESCRIPTION", " junk DESCRIPTION"))).FaultCount(),
            1u);

  // Many faults: the first ten told, the rest counted.
  std::string many;
  for (int i = 0; i < 13; ++i) many += Set("SENSITIVITY", "x" + std::to_string(i)) + "\n";
  const TripwireCheck check("t.cfg", many);
  EXPECT_EQ(check.FaultCount(), 25u);  // each line's SENSITIVITY; its mask from line 2 on
  EXPECT_EQ(check.Faults().size(), TripwireCheck::kFaultsTold);
  EXPECT_TRUE(check.Describe().ends_with("; and 15 more")) << check.Describe();
}

// What passes is what the plug-in reads to its end: as many tripwires, and no failure.
TEST(TripwireCheck, EveryFileThatPassesIsReadWholeByThePluginsOwnReader) {
  const std::vector<std::string> files = {
      File(kElement),
      File("<!-- two on a line, no blank between attributes -->\n" + Set("RESOURCE", "/x/*") +
           Set("RESOURCE", "/y.tar.gz") +
           "\n<TRIPWIRE ACTIVE=\"-1\" RESOURCE=\"*/admin.asp\" HOST=\"Shop.Example\" DEFLECT=\"\""
           "SENSITIVITY=\" 2.5 \" STRENGTH=\"-3\" INVERSE=\"1\" CARRYPARAMETERS=\"true\"/>"),
      File(Set("DEFLECT", "/help.old/*.htm") + "\n" + Set("RESOURCE", "/b/page.*") +
           "\n<TRIPWIRE ACTIVE=\"False\" />"),
      "",
  };
  testing_support::TempDir dir;
  for (const std::string &text : files) {
    const TripwireCheck check("t.cfg", text);
    ASSERT_TRUE(check.Passed()) << text << "\n" << check.Describe();
    testing_support::WriteFile(dir.File("KvVantrel.CFG"), text);
    const host::TripwireDefinitions read = host::TripwireDefinitions::Read(dir.Path(), "t.cfg");
    EXPECT_EQ(read.failure, "") << text;
    EXPECT_EQ(read.active, check.Active()) << text;
  }

  // The examples pass unchanged: the text handed over is the file's, byte for byte.
  const std::string example = FLOWDECK_EXAMPLES "/tripwires.cfg";
  EXPECT_EQ(TripwireCheck::Checked(example), testing_support::ReadFile(example));
  EXPECT_EQ(TripwireCheck("x", testing_support::ReadFile(example)).Active(), 5);
}

TEST(TripwireCheck, AFileThatCannotBeReadOrIsTooLargeSaysSo) {
  testing_support::TempDir dir;
  try {
    TripwireCheck::Checked(dir.File("missing.cfg"));
    FAIL() << "a missing file passed";
  } catch (const host::TripwireError &) {
    FAIL() << "a missing file is no fault of its text";
  } catch (const std::runtime_error &error) {
    EXPECT_NE(std::string(error.what())
                  .find("missing.cfg: cannot read the definitions file: No "
                        "such file or directory"),
              std::string::npos)
        << error.what();
  }
  testing_support::WriteFile(dir.File("huge.cfg"),
                             std::string(TripwireCheck::kLargestFile + 1, ' '));
  EXPECT_THROW(TripwireCheck::Checked(dir.File("huge.cfg")), host::TripwireError);
  testing_support::WriteFile(dir.File("bad.cfg"), File(Set("SENSITIVITY", "five")));
  EXPECT_THROW(TripwireCheck::Checked(dir.File("bad.cfg")), host::TripwireError);
}

TEST(TripwireWatch, TellsAChangeOnceTheFileHasSettledAndOnlyOnce) {
  using namespace std::chrono_literals;
  testing_support::TempDir dir;
  const std::string path = dir.File("t.cfg");
  testing_support::WriteFile(path, "one");
  host::TripwireWatch watch(path);
  const auto t0 = host::TripwireWatch::Clock::now();
  EXPECT_FALSE(watch.Changed(t0));
  testing_support::WriteFile(path, "two, longer");
  EXPECT_FALSE(watch.Changed(t0)) << "not settled yet";
  EXPECT_FALSE(watch.Changed(t0 + 500ms));
  EXPECT_TRUE(watch.Changed(t0 + 1s));
  EXPECT_FALSE(watch.Changed(t0 + 5s)) << "told once";

  // Written again while settling: the time starts anew.
  testing_support::WriteFile(path, "three");
  EXPECT_FALSE(watch.Changed(t0 + 6s));
  testing_support::WriteFile(path, "three, again");
  EXPECT_FALSE(watch.Changed(t0 + 7s));
  EXPECT_TRUE(watch.Changed(t0 + 8s));

  // A reload read it: nothing to tell. Removed: told, as the file the run no longer finds.
  testing_support::WriteFile(path, "four");
  watch.Rebase();
  EXPECT_FALSE(watch.Changed(t0 + 9s));
  EXPECT_FALSE(watch.Changed(t0 + 20s));
  std::filesystem::remove(path);
  EXPECT_FALSE(watch.Changed(t0 + 21s));
  EXPECT_TRUE(watch.Changed(t0 + 22s));
  EXPECT_FALSE(host::TripwireWatch("").Changed(t0 + 30s));
}

}  // namespace
