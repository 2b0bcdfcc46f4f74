#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "KvError.h"

namespace common {

// A text file written line by line, every line ended by CR LF, bytes as they come. Writes are
// buffered; a failure raises the file-system error with the path at the writer's site. When a
// write stops part-way, the file is cut back to its last complete line, so a reader never sees
// half a line and LinesWritten tells exactly which lines made it.
class TextWriter {
 public:
  enum class Mode { kReplace, kAppend };

  TextWriter(const Site &site, std::string path, Mode mode);
  TextWriter(const TextWriter &) = delete;
  TextWriter &operator=(const TextWriter &) = delete;
  ~TextWriter();

  // Adds bytes to the current line; they hold no line end.
  void Write(std::string_view text);
  // Adds bytes and ends the line.
  void WriteLine(std::string_view text);
  // Adds count complete lines, each already ended by CR LF.
  void WriteLines(std::string_view lines, size_t count);
  // Writes out what is buffered and closes the file; raises on failure.
  void Close();

  // Complete lines that reached the file so far.
  size_t LinesWritten() const noexcept { return linesWritten_; }
  const std::string &Path() const noexcept { return path_; }

 private:
  void Flush();
  [[noreturn]] void Fail(int errnum);

  Site site_;
  std::string path_;
  int fd_ = -1;
  std::string buffer_;
  size_t linesWritten_ = 0;
  size_t pendingLines_ = 0;  // lines in the buffer
  // File size up to the last complete line written through this writer.
  long long committedSize_ = 0;
};

// A text file read line by line; a line ends at LF, and a CR before it is dropped.
class TextReader {
 public:
  // Opens the file; nothing when it does not exist or cannot be opened.
  static std::optional<TextReader> TryOpen(std::string path);
  // Opens the file; raises the file-system error at the site when it cannot.
  TextReader(const Site &site, std::string path);
  TextReader(TextReader &&other) noexcept;
  TextReader &operator=(TextReader &&) = delete;
  TextReader(const TextReader &) = delete;
  ~TextReader();

  // The next line into line; false at the end of the file. Raises on a read failure.
  bool ReadLine(const Site &site, std::string &line);

 private:
  TextReader(int fd, std::string path) : path_(std::move(path)), fd_(fd) {}

  std::string path_;
  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;  // kReadBuffer bytes once reading starts, never zeroed
  size_t begin_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
};

// Appends one line (CR LF added) to a file, creating it when missing; the file is open only
// during the call.
void AppendLine(const Site &site, const std::string &path, std::string_view text);

// Creates an empty file where none exists; raises when it cannot.
void CreateIfMissing(const Site &site, const std::string &path);

// Moves a file over another in one step: readers see the old or the new file, never neither.
void ReplaceFile(const Site &site, const std::string &from, const std::string &to);

// Deletes a file; false when it could not (missing included).
bool RemoveFile(const std::string &path) noexcept;

}  // namespace common
