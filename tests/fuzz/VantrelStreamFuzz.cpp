// Any script of calls on the shield plug-in's Vantrel object, with the definitions file the
// script sets up. After every cycle the tripwire file, when there is one, is well-formed XML and
// holds at least the shields it held before; no call writes more than one error-log line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CallScript.h"
#include "FuzzDirectory.h"
#include "OutputChecks.h"
#include "Vantrel.h"

namespace {

using fuzzing::Require;

// Shield requests go to this machine only; nothing listens on its port 80 while the target
// runs as a rule, so the connect is refused at once.
constexpr std::string_view kShieldServer = "127.0.0.1";

// The shields the tripwire file holds; the file is checked first.
size_t CheckTripwireFile(const std::string &path) {
  if (!fuzzing::FileExists(path)) return 0;
  const fuzzing::XmlDocument document = fuzzing::ParseXml(fuzzing::ReadWholeFile(path));
  Require(document != nullptr, "the tripwire file is well-formed XML");
  const xmlNode *root = xmlDocGetRootElement(document.get());
  Require(
      root != nullptr && std::string_view("KELVARIN") == reinterpret_cast<const char *>(root->name),
      "the tripwire file's root is KELVARIN");
  const auto lists = fuzzing::ChildElements(root, "TRIPWIRES");
  Require(lists.size() == 1, "the tripwire file holds one TRIPWIRES list");
  return fuzzing::ChildElements(lists.front(), "TRIPWIRE").size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static fuzzing::FuzzDirectory directory;
  directory.StartInput();
  const fuzzing::CallScript script(data, size);
  fuzzing::WriteWholeFile(directory.File("KvVantrel.CFG"), script.Setup());
  const std::string tripwirePath = directory.File("KvVantrel.xml");
  const std::string errorLog = directory.File("KvVantrelErrors.LOG");
  size_t shields = 0;
  size_t errors = 0;
  vantrel::Vantrel shield;
  for (fuzzing::ScriptedCall call : script.Calls()) {
    const bool configures = call.Action() == "CONFIG";
    if (configures) {
      std::string &text = call.fields[common::kUserAgent];
      text = fuzzing::WithConfigField(text, 0, kShieldServer);
    }
    const common::StreamFields fields = call.View();
    for (size_t i = 0; i < call.repeat; ++i) {
      directory.AdvanceClock(call.clockStepSeconds);
      shield.Stream(fields);
    }
    const size_t errorsNow = fuzzing::ErrorLogEntries(errorLog);
    Require(errorsNow <= errors + call.repeat, "a call writes at most one error-log line");
    errors = errorsNow;
    if (configures || call.Action() == "CYCLE") {
      const size_t shieldsNow = CheckTripwireFile(tripwirePath);
      Require(shieldsNow >= shields, "the tripwire file never loses a shield");
      shields = shieldsNow;
    }
  }
  return 0;
}
