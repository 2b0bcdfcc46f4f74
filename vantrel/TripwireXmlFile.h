#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "TextFile.h"
#include "clsResource.h"
#include "clsShieldedResource.h"
#include "clsUser.h"

namespace vantrel {

// The tripwire file "KvVantrel.xml" as one cycle rebuilds it: the old TRIPWIRE lines and the new
// ones go to "KvVantrel.tmp", which then takes the old file's place in one step.
class TripwireXmlFile {
 public:
  bool IsOpen() const noexcept { return newFile_ != nullptr; }
  // Starts the new file and copies the TRIPWIRE lines of the old one into it; the file counts as
  // open only once that is done.
  void Open();
  void WriteTripwire(const clsUser &user, const clsResource &record,
                     const clsShieldedResource &definition, int32_t hits, float factor);
  // Ends the new file and puts it in place of the old one.
  void CloseAndReplace();

  // The line for one shield, its values escaped for XML.
  static std::string TripwireLine(const std::string &dateTime, const clsUser &user,
                                  const clsResource &record, const clsShieldedResource &definition,
                                  int32_t hits, float factor);

 private:
  static void CopyOldTripwires(const std::string &oldPath, common::TextWriter &newFile);

  std::unique_ptr<common::TextWriter> newFile_;
};

}  // namespace vantrel
