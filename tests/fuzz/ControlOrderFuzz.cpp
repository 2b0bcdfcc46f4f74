// Any bytes as a line on the control socket: the wire decodes it or refuses it, and a decoded
// order is read or refused with OrderError; an order read encodes and decodes to itself, and
// its shield values never hold what a map line could be read otherwise by (a control byte, a
// blank in the host).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "run/ControlWire.h"
#include "shield/SteerOrder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view line(reinterpret_cast<const char *>(data), size);
  std::vector<std::string> words;
  if (!host::ControlWire::DecodeRequest(line, words)) return 0;
  host::SteerOrder order;
  try {
    order = host::SteerOrder::Parse(words);
  } catch (const host::OrderError &) {
    return 0;
  }
  for (char c : order.host + order.resource + order.deflect) {
    if (static_cast<unsigned char>(c) < 0x20) std::abort();
  }
  if (order.host.find(' ') != std::string::npos) std::abort();
  std::string encoded;
  std::vector<std::string> again;
  // Its canonical words may be a little longer than the line (1w as 604800): past the bound
  // they are refused to send, which is no fault.
  if (!host::ControlWire::EncodeRequest(order.Words(), encoded).empty()) return 0;
  if (!encoded.empty() && encoded.back() == '\n') encoded.pop_back();
  if (!host::ControlWire::DecodeRequest(encoded, again)) std::abort();
  if (host::SteerOrder::Parse(again).Words() != order.Words()) std::abort();
  return 0;
}
