#include "ApacheMap.h"

#include <string_view>

namespace host {

namespace {

// White space as Apache's reader sees it, and the NUL that ends its strings.
bool HasBreak(const std::string &text) {
  return text.find_first_of(std::string_view(" \t\n\v\f\r\0", 7)) != std::string::npos;
}

}  // namespace

std::string ApacheMap::Refusal(const Shield &shield) {
  if (HasBreak(shield.host))
    return "its host holds white space or a NUL byte, which an Apache RewriteMap key cannot hold";
  if (HasBreak(shield.resource))
    return "its resource holds white space or a NUL byte, which an Apache RewriteMap key cannot "
           "hold";
  if (HasBreak(shield.deflect))
    return "its deflect path holds white space or a NUL byte, which an Apache RewriteMap value "
           "cannot hold";
  // The address comes first and holds no '|', so only the host could move the separators.
  if (shield.host.find('|') != std::string::npos)
    return "its host holds '|', which separates the parts of an Apache RewriteMap key";
  if (shield.deflect.empty()) return "it has no deflect path";
  const size_t line = shield.address.size() + shield.host.size() + shield.resource.size() +
                      shield.deflect.size() + 3;
  if (line > kLongestLine)
    return "its line would be longer than the " + std::to_string(kLongestLine) +
           " bytes Apache reads from a RewriteMap text file line";
  return "";
}

void ApacheMap::AppendEntry(std::string &out, const Shield &shield) {
  out.append(shield.address)
      .append(1, '|')
      .append(shield.host)
      .append(1, '|')
      .append(shield.resource)
      .append(1, ' ')
      .append(shield.deflect)
      .append(1, '\n');
}

std::string ApacheMap::Render(const ActiveShields &active) {
  std::string file;
  file.reserve(active.Size() * 96);
  for (const Shield &shield : active) {
    if (Refusal(shield).empty()) AppendEntry(file, shield);
  }
  return file;
}

}  // namespace host
