#pragma once

#include <string>

#include "base/Error.h"
#include "report/ReportData.h"

namespace report {

// The run directory itself cannot be read: nothing to report on.
struct DirectoryError : host::Error {
  DirectoryError(std::string directory, std::string cause)
      : host::Error(std::move(directory), std::move(cause)) {}
};

// Reads what a run left in the directory: "KvCorvane.xml", "KvCorvaneAlerts.Out" and
// "KvVantrel.xml". A missing or unreadable file only empties its section. Throws
// DirectoryError when the directory cannot be read.
RunData ReadRun(const std::string &directory);

// The page for a run, as a whole text.
std::string RenderReport(const RunData &run);

// Reads the run in the directory and writes its page to outputFile atomically: a temporary
// file beside it is renamed over it, so a reader never sees half a page. Throws
// DirectoryError, or host::Error naming the file and the cause when it cannot write.
void WriteReport(const std::string &directory, const std::string &outputFile);

}  // namespace report
