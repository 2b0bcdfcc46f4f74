#include "FaultTesting.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace faults {

std::string Serial(int seconds, int milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "40305%02d%02d%02d%03d", 14 + seconds / 3600, seconds / 60 % 60,
                seconds % 60, milliseconds);
  return text;
}

Fields Request(const std::string &key, const std::string &serial, const std::string &path,
               const std::string &address) {
  Fields fields{};
  fields[0] = "GET";
  fields[1] = serial;
  fields[2] = key;
  fields[3] = "us";
  fields[4] = "resolved." + key;
  fields[5] = address;
  fields[6] = "remote." + key;
  fields[8] = path;
  fields[11] = "shop";
  fields[12] = "80";
  fields[13] = "Mozilla/4.0 (compatible; MSIE 6.0)";
  fields[16] = "0";
  return fields;
}

Fields Action(const std::string &action, const std::string &text) {
  Fields fields{};
  fields[0] = action;
  fields[13] = text;
  return fields;
}

std::string ShieldSettings(const std::string &server, bool trace) {
  return server + ";/flowdeck/;filter.dll;AddShield;RemoveShield;0.5;0;3;0;False;/tmp/;" +
         (trace ? "True" : "False");
}

std::string MonitorSettings(const std::string &exportDirectory, bool trace) {
  return "srv;url;uri;add;remove;1;0.1;3;0;1;" + exportDirectory + ";2;5;1;" + (trace ? "1" : "0");
}

std::string TripwireDefinition() {
  return "<TRIPWIRE ACTIVE=\"1\" HOST=\"shop\" RESOURCE=\"/a/*.*\" DEFLECT=\"/x/*.htm\" "
         "SENSITIVITY=\"0\" STRENGTH=\"0\" INVERSE=\"0\" CARRYPARAMETERS=\"0\" />\r\n";
}

PluginObject::PluginObject(const std::string &fileName, const std::string &directory)
    : now(testing_support::LocalDate(2004, 3, 5, 14, 0, 0)), plugin_(fileName, directory) {
  plugin_.SetClock(&now);
  object_ = plugin_.Create();
  if (object_ == nullptr) throw std::runtime_error(fileName + ": no object");
}

PluginObject::~PluginObject() {
  plugin_.Destroy(object_);
}

void PluginObject::SteadyHits(const std::string &key, int second, const std::string &path) {
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Stream(Request(key, Serial(second, 100 * i), path)), 0);
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
  getrlimit(RLIMIT_FSIZE, &saved_);
  savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limited{bytes, saved_.rlim_max};
  if (setrlimit(RLIMIT_FSIZE, &limited) != 0) throw std::runtime_error("setrlimit failed");
  active_ = true;
}

void FileSizeLimit::Lift() {
  if (!active_) return;
  setrlimit(RLIMIT_FSIZE, &saved_);
  std::signal(SIGXFSZ, savedHandler_);
  active_ = false;
}

DirectoryReplacedByFile::DirectoryReplacedByFile(std::string directory)
    : directory_(std::move(directory)) {
  std::filesystem::rename(directory_, directory_ + ".away");
  testing_support::WriteFile(directory_, "not a directory\n");
  replaced_ = true;
}

void DirectoryReplacedByFile::Restore() {
  if (!replaced_) return;
  std::filesystem::remove(directory_);
  std::filesystem::rename(directory_ + ".away", directory_);
  replaced_ = false;
}

Lines LinesWith(const Lines &lines, std::string_view text) {
  Lines found;
  for (const std::string &line : lines) {
    if (line.find(text) != std::string::npos) found.push_back(line);
  }
  return found;
}

size_t Occurrences(const std::string &content, std::string_view text) {
  size_t count = 0;
  for (size_t at = content.find(text); at != std::string::npos; at = content.find(text, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace faults
