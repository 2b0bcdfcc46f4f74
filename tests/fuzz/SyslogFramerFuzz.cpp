// Any bytes as a TCP syslog stream, cut at places the input chooses: the messages do not
// depend on where the stream broke, none is longer than the limit, nothing is held beyond it,
// and every header read leaves the message text inside its frame.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "input/SyslogFramer.h"
#include "input/SyslogMessage.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Inside(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

std::vector<std::string> Cut(const std::vector<std::string_view> &pieces, uint64_t &oversized) {
  host::SyslogFramer framer;
  std::vector<std::string> frames;
  auto sink = [&](std::string_view frame) {
    Check(!frame.empty() && frame.size() <= host::SyslogFramer::kMaxFrame);
    frames.emplace_back(frame);
    host::SyslogMessage message;
    if (host::SyslogMessage::Parse(frame, message)) {
      Check(Inside(message.text, frame) && Inside(message.tag, frame) &&
            Inside(message.hostname, frame));
    }
  };
  for (std::string_view piece : pieces) {
    framer.Feed(piece, sink);
    Check(framer.Pending() <= host::SyslogFramer::kMaxFrame + 8);
  }
  framer.Finish(sink);
  oversized = framer.Oversized();
  return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  // The first byte seeds the places the stream is cut.
  const unsigned seed = data[0];
  const std::string_view stream(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::vector<std::string_view> pieces;
  for (size_t at = 0, step = 1 + seed % 17; at < stream.size();
       at += step, step = 1 + (step * 7 + seed) % 29) {
    pieces.push_back(stream.substr(at, step));
  }
  uint64_t wholeOversized = 0, piecesOversized = 0;
  const std::vector<std::string> whole = Cut({stream}, wholeOversized);
  Check(Cut(pieces, piecesOversized) == whole);
  Check(piecesOversized == wholeOversized);
  return 0;
}
