#include "run/ControlWire.h"

#include <charconv>

namespace host {

namespace {

constexpr std::string_view kAsk = "ask";
constexpr std::string_view kReply = "reply ";
constexpr std::string_view kCutNote = "flowdeck: the answer was cut here, at its size limit\n";

// Takes a decimal number of at most `limit` from the front of `text`: digits only, without a
// sign or a leading zero, so that each number has exactly one spelling.
bool TakeNumber(std::string_view &text, size_t limit, size_t &value) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9 || (digits > 1 && text[0] == '0')) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + digits, value);
  if (error != std::errc() || value > limit) return false;
  text.remove_prefix(digits);
  return true;
}

bool TakeChar(std::string_view &text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

// `part` cut to what fits beside the note that says it was cut.
std::string_view Cut(std::string_view part, bool &cut) {
  if (part.size() <= ControlWire::kMaxReplyPart) return part;
  cut = true;
  return part.substr(0, ControlWire::kMaxReplyPart - kCutNote.size());
}

}  // namespace

std::string ControlWire::EncodeRequest(const std::vector<std::string> &arguments,
                                       std::string &line) {
  line.assign(kAsk);
  for (const std::string &argument : arguments) {
    if (argument.find_first_of(std::string_view("\0\n", 2)) != std::string::npos)
      return "an argument holds a NUL byte or a line end, which a command cannot carry";
    line += ' ';
    line += std::to_string(argument.size());
    line += ':';
    line += argument;
    if (line.size() >= kMaxRequest)
      return "the command is longer than " + std::to_string(kMaxRequest - 1) + " bytes";
  }
  line += '\n';
  return {};
}

bool ControlWire::DecodeRequest(std::string_view line, std::vector<std::string> &arguments) {
  arguments.clear();
  if (!line.starts_with(kAsk)) return false;
  line.remove_prefix(kAsk.size());
  while (!line.empty()) {
    size_t length = 0;
    if (!TakeChar(line, ' ') || !TakeNumber(line, line.size(), length) || !TakeChar(line, ':') ||
        length > line.size())
      return false;
    const std::string_view argument = line.substr(0, length);
    if (argument.find('\0') != std::string_view::npos) return false;
    arguments.emplace_back(argument);
    line.remove_prefix(length);
  }
  return true;
}

std::string ControlWire::EncodeReply(const ControlReply &reply) {
  bool outCut = false, errCut = false;
  const std::string_view out = Cut(reply.out, outCut);
  std::string err(Cut(reply.err, errCut));
  if (outCut || errCut) err += kCutNote;
  const int status = reply.status >= 0 && reply.status <= 255 ? reply.status : 1;
  std::string data = std::string(kReply) + std::to_string(status) + ' ' +
                     std::to_string(out.size()) + ' ' + std::to_string(err.size()) + '\n';
  data.reserve(data.size() + out.size() + err.size());
  data.append(out);
  data.append(err);
  return data;
}

ControlWire::Reading ControlWire::DecodeReply(std::string_view data, ControlReply &reply) {
  const size_t end = data.find('\n');
  if (end == std::string_view::npos)
    return data.size() < kMaxReplyHead ? Reading::kIncomplete : Reading::kMalformed;
  std::string_view head = data.substr(0, end + 1);
  if (head == kRefused) return Reading::kRefused;
  size_t status = 0, outSize = 0, errSize = 0;
  if (end >= kMaxReplyHead || !head.starts_with(kReply)) return Reading::kMalformed;
  head.remove_prefix(kReply.size());
  if (!TakeNumber(head, 255, status) || !TakeChar(head, ' ') ||
      !TakeNumber(head, kMaxReplyPart, outSize) || !TakeChar(head, ' ') ||
      !TakeNumber(head, kMaxReplyPart, errSize) || head != "\n")
    return Reading::kMalformed;
  const std::string_view body = data.substr(end + 1);
  if (body.size() < outSize + errSize) return Reading::kIncomplete;
  // The server closes after its reply: anything past it was not sent by a follow.
  if (body.size() > outSize + errSize) return Reading::kMalformed;
  reply.status = static_cast<int>(status);
  reply.out.assign(body.substr(0, outSize));
  reply.err.assign(body.substr(outSize, errSize));
  return Reading::kComplete;
}

}  // namespace host
