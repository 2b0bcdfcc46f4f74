#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// The plug-ins' settings as an operator writes them: "key = value" lines, "#" comments. Every
// key has a default, so an empty file (or none) is a working configuration.
class HostConfig {
 public:
  HostConfig();

  // Reads a file over the defaults; throws Error naming file and line of the
  // first unknown key or bad value.
  void Load(const std::string &path);
  // Sets one key as a file line would; the error names `where`.
  void Set(const std::string &key, const std::string &value, const std::string &where);

  const std::string &Get(const std::string &key) const;
  int64_t GetInteger(const std::string &key) const;
  bool GetBoolean(const std::string &key) const;
  // A duration setting ("90s", "15m", "12h", "7d", "1w" or plain seconds) in seconds.
  int64_t GetSeconds(const std::string &key) const;

  // The positional configuration texts each plug-in reads.
  std::string ShieldConfigText() const;
  std::string MonitorConfigText() const;

  // The words of a list setting, split at commas and blanks.
  static std::vector<std::string> Words(const std::string &text);
  static constexpr size_t kLongestExtension = 15;

  // The keys in the order the configuration texts use them.
  static const std::vector<std::string> &Keys();

 private:
  std::vector<std::string> values_;
};

}  // namespace host
