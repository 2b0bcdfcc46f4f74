#pragma once

#include <sys/uio.h>

#include <string>
#include <string_view>
#include <vector>

#include "KvError.h"

namespace common {

// A file created afresh and written from pieces that stay where they are until they are
// written: up to IOV_MAX of them go out in one writev, without being copied into a buffer
// first. For files made mostly of text kept elsewhere, such as a snapshot whose lines are
// kept from one rewrite to the next. A failure raises the file-system error with the path at
// the writer's site; the file then holds whatever reached it.
class GatheringWriter {
 public:
  GatheringWriter(const Site &site, std::string path);
  GatheringWriter(const GatheringWriter &) = delete;
  GatheringWriter &operator=(const GatheringWriter &) = delete;
  ~GatheringWriter();

  // Queues bytes that must stay valid and unchanged until the next Flush or Close (a full
  // queue is written out here, before the piece joins it).
  void Add(std::string_view piece);
  // Writes out every queued piece.
  void Flush();
  // Writes out what is queued and closes the file; raises on failure.
  void Close();

 private:
  [[noreturn]] void Fail(int errnum);

  Site site_;
  std::string path_;
  int fd_ = -1;
  std::vector<iovec> queued_;
};

}  // namespace common
