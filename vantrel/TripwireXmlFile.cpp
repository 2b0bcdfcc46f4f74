#include "TripwireXmlFile.h"

#include <optional>

#include "Clock.h"
#include "Convert.h"
#include "PluginDirectory.h"
#include "WriteTrace.h"
#include "XmlText.h"

namespace vantrel {

namespace {

constexpr common::Site kSite{"  Class: Vantrel  ", "Vantrel"};
constexpr std::string_view kTripwireMark = "<TRIPWIRE ";

std::string FinalPath() {
  return common::PluginFile("\\KvVantrel.xml");
}
std::string TemporaryPath() {
  return common::PluginFile("\\KvVantrel.tmp");
}

void AppendAttribute(std::string &line, std::string_view name, std::string_view value) {
  line.append(" ").append(name).append("=\"");
  common::AppendXmlAttribute(line, value);
  line.append("\"");
}

}  // namespace

void TripwireXmlFile::Open() {
  const std::string temporary = TemporaryPath();
  common::RemoveFile(temporary);
  auto file =
      std::make_unique<common::TextWriter>(kSite, temporary, common::TextWriter::Mode::kReplace);
  WriteTrace("XML Files are open for reading and writing");
  file->WriteLine("<?xml version=\"1.0\"?>");
  file->WriteLine("<KELVARIN>");
  file->WriteLine("\t<TRIPWIRES>");
  CopyOldTripwires(FinalPath(), *file);
  for (const std::string &line : unfiled_) file->WriteLine(line);
  // Only a complete copy may ever replace the old file.
  newFile_ = std::move(file);
}

void TripwireXmlFile::CopyOldTripwires(const std::string &oldPath, common::TextWriter &newFile) {
  std::optional<common::TextReader> oldFile = common::TextReader::TryOpen(oldPath);
  if (!oldFile) return;
  std::string line;
  while (oldFile->ReadLine(kSite, line)) {
    if (line.find(kTripwireMark) != std::string::npos) newFile.WriteLine(line);
  }
  oldFile.reset();
  WriteTrace("Exisiting XML file is copied to new temp file");
}

std::string TripwireXmlFile::TripwireLine(const std::string &dateTime, const clsUser &user,
                                          const clsResource &record,
                                          const clsShieldedResource &definition, int32_t hits,
                                          float factor) {
  std::string line("\t\t<TRIPWIRE");
  AppendAttribute(line, "DATETIME", dateTime);
  AppendAttribute(line, "REMOTEADDR", user.RemoteAddr());
  AppendAttribute(line, "RESOLVEDADDR", user.ResolvedAddr());
  AppendAttribute(line, "HOST", record.Host());
  AppendAttribute(line, "HITS", std::to_string(hits));
  AppendAttribute(line, "FACTOR", common::GeneralNumber(factor, 15));
  AppendAttribute(line, "RESOURCE", record.Resource());
  AppendAttribute(line, "DEFLECT", definition.Deflect());
  AppendAttribute(line, "SENSITIVITY", std::to_string(definition.Sensitivity()));
  AppendAttribute(line, "STRENGTH", std::to_string(definition.Strength()));
  AppendAttribute(line, "DESCRIPTION", definition.Description());
  AppendAttribute(line, "INVERSE", definition.Inverse() ? "1" : "0");
  AppendAttribute(line, "CARRYPARAMETERS", definition.CarryParameters() ? "1" : "0");
  line.append(" />");
  return line;
}

void TripwireXmlFile::WriteTripwire(const clsUser &user, clsResource &record,
                                    const clsShieldedResource &definition, int32_t hits,
                                    float factor) {
  unfiled_.push_back(TripwireLine(common::FormatPaddedDate12(common::Now()), user, record,
                                  definition, hits, factor));
  record.MarkShielded();
  newFile_->WriteLine(unfiled_.back());
}

void TripwireXmlFile::CloseAndReplace() {
  // Whatever happens here, the cycle's files are no longer open.
  const std::unique_ptr<common::TextWriter> file = std::move(newFile_);
  file->WriteLine("\t</TRIPWIRES>");
  file->WriteLine("</KELVARIN>");
  file->Close();
  // rename replaces the old file in one step: readers never find the file missing.
  common::ReplaceFile(kSite, TemporaryPath(), FinalPath());
  unfiled_.clear();
  WriteTrace("XML file closed and renamed");
  WriteTrace("Cycle complete");
}

}  // namespace vantrel
