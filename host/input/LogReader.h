#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// Reads an access log line by line: a plain file, a .gz file (read as it is) or standard input
// ("-"). A line longer than kMaxLine is cut there and flagged, never held whole.
class LogReader {
 public:
  static constexpr size_t kMaxLine = 1 << 20;

  // Throws Error naming the file when it cannot be opened or is a directory.
  explicit LogReader(const std::string &path);
  ~LogReader();
  LogReader(const LogReader &) = delete;
  LogReader &operator=(const LogReader &) = delete;

  // The next line without its line end; the view is valid until the next call. False at the end
  // of the file; throws Error on a read error.
  bool Next(std::string_view &line, bool &tooLong);

  const std::string &Path() const { return path_; }
  uint64_t LineNumber() const { return lineNumber_; }
  uint64_t BytesRead() const { return bytesRead_; }

 private:
  bool Fill();
  void SkipRestOfLine();

  std::string path_;
  void *gz_ = nullptr;  // gzFile
  std::vector<char> buffer_;
  size_t begin_ = 0, end_ = 0;
  bool eof_ = false;
  uint64_t lineNumber_ = 0;
  uint64_t bytesRead_ = 0;
};

}  // namespace host
