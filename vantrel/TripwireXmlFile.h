#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TextFile.h"
#include "clsResource.h"
#include "clsShieldedResource.h"
#include "clsUser.h"

namespace vantrel {

// The tripwire file "KvVantrel.xml" as one cycle rebuilds it: the old TRIPWIRE lines and the new
// ones go to "KvVantrel.tmp", which then takes the old file's place in one step.
//
// The lines of shields that did not reach the final file (a full disk, a directory that could
// not take the new file) are kept in `unfiled`, which outlives the cycle: the next cycle that
// can writes them behind the old lines, so a shield sent to the host is filed exactly once.
class TripwireXmlFile {
 public:
  explicit TripwireXmlFile(std::vector<std::string> &unfiled) : unfiled_(unfiled) {}

  bool IsOpen() const noexcept { return newFile_ != nullptr; }
  bool HasUnfiled() const noexcept { return !unfiled_.empty(); }
  // Starts the new file and copies the TRIPWIRE lines of the old one into it, then the lines
  // still unfiled; the file counts as open only once that is done.
  void Open();
  // Files the shield of a record: its line is kept until the final file holds it, and the record
  // is marked before the line is written, so that whatever fails next it is never filed twice.
  void WriteTripwire(const clsUser &user, clsResource &record,
                     const clsShieldedResource &definition, int32_t hits, float factor);
  // Ends the new file and puts it in place of the old one.
  void CloseAndReplace();

  // The line for one shield, its values escaped for XML.
  static std::string TripwireLine(const std::string &dateTime, const clsUser &user,
                                  const clsResource &record, const clsShieldedResource &definition,
                                  int32_t hits, float factor);

 private:
  static void CopyOldTripwires(const std::string &oldPath, common::TextWriter &newFile);

  std::vector<std::string> &unfiled_;
  std::unique_ptr<common::TextWriter> newFile_;
};

}  // namespace vantrel
