#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace common {

// Standard error numbers of the plug-ins.
enum ErrorNumber : int32_t {
  kInvalidArgument = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kFileNotFound = 53,
  kDiskFull = 61,
  kPermissionDenied = 70,
  kPathFileAccessError = 75,
  kPathNotFound = 76,
  kDuplicateKey = 457,
};

// The standard description of an error number ("Overflow" for 6).
std::string_view StandardDescription(int32_t number) noexcept;

// Where an error is raised or passed through: a location label exactly as the logs show it
// ("  Class: clsUsers  ") and the class whose name starts the error's source ("clsUsers"; empty
// for a module, whose errors start with the project name alone).
struct Site {
  std::string_view label;
  std::string_view className;
};

// An error travelling up the chain of callers: number and description stay as raised, the
// source grows by one "label + name" segment, joined by a CR, per procedure it passes.
class KvError : public std::exception {
 public:
  KvError(int32_t number, std::string description, std::string source)
      : number_(number), description_(std::move(description)), source_(std::move(source)) {}

  int32_t Number() const noexcept { return number_; }
  const std::string &Description() const noexcept { return description_; }
  const std::string &Source() const noexcept { return source_; }
  const char *what() const noexcept override { return description_.c_str(); }

  // Puts "label + name + CR" in front of the source: the usual hand-over.
  void Prepend(std::string_view label, std::string_view name);
  // Puts "CR + label + name" behind the source: the shield cycle's own order.
  void Append(std::string_view label, std::string_view name);

 private:
  int32_t number_;
  std::string description_;
  std::string source_;
};

// The starting source of an error raised at a site: "KvCorvane.clsUsers", or "KvCorvane".
std::string StartingSource(const Site &site);

// An error with the standard description of its number, raised at a site.
[[noreturn]] void Raise(const Site &site, int32_t number);

// A file-system failure: the classic number for errno, the path and the cause in the
// description ("Permission denied: /srv/KvCorvane.tmp (Read-only file system)").
KvError FileError(const Site &site, int errnum, std::string_view path);

// Runs the body of a procedure that hands its errors up: an error leaving the body gets the
// site's label and the procedure's name put in front of its source; running out of memory
// becomes error 7 raised here.
template <class Body>
decltype(auto) Guard(const Site &site, std::string_view name, Body &&body) {
  try {
    return body();
  } catch (KvError &error) {
    error.Prepend(site.label, name);
    throw;
  } catch (const std::bad_alloc &) {
    KvError error(kOutOfMemory, std::string(StandardDescription(kOutOfMemory)),
                  StartingSource(site));
    error.Prepend(site.label, name);
    throw error;
  }
}

}  // namespace common
