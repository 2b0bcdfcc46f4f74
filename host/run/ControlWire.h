#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "run/ControlReply.h"

namespace host {

// The bytes a command and its answer travel as on the control socket.
//
// A request is one line: "ask", then " <length>:<bytes>" for each argument, then "\n". The
// lengths make it unambiguous whatever the arguments hold (spaces, quotes, '%', UTF-8, '\r');
// only NUL and newline are refused, so that the line end is the request's end.
//
// A reply is a head line "reply <status> <out length> <err length>\n" followed by exactly that
// many bytes of out, then of err. A peer that may not ask gets the single line "refused\n".
class ControlWire {
 public:
  // The whole request line, its end included.
  static constexpr size_t kMaxRequest = 4096;
  // Each of out and err: a list of 100,000 shields fits.
  static constexpr size_t kMaxReplyPart = size_t{4} << 20;
  static constexpr size_t kMaxReplyHead = 64;
  static constexpr std::string_view kRefused = "refused\n";

  // The request line for `arguments` in `line`; otherwise why they cannot be sent.
  static std::string EncodeRequest(const std::vector<std::string> &arguments, std::string &line);
  // Reads a request line (its end removed); false for anything that is not exactly one.
  static bool DecodeRequest(std::string_view line, std::vector<std::string> &arguments);

  // The reply's bytes; a part past kMaxReplyPart is cut and err says so.
  static std::string EncodeReply(const ControlReply &reply);

  enum class Reading { kIncomplete, kComplete, kMalformed, kRefused };
  // Reads a reply from what has come so far; `reply` is set when it is complete.
  static Reading DecodeReply(std::string_view data, ControlReply &reply);
};

}  // namespace host
