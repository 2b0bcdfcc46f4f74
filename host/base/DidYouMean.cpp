#include "base/DidYouMean.h"

#include <algorithm>
#include <limits>

#include "AsciiCase.h"

namespace host {

namespace {

// Names longer than this are no typing slip; it also bounds the work per name.
constexpr size_t kLongestName = 64;

using common::LowerAscii;

// Optimal string alignment distance, case ignored: a swap of two neighbours counts once.
size_t Distance(std::string_view a, std::string_view b) {
  const size_t width = b.size() + 1;
  std::vector<size_t> d((a.size() + 1) * width);
  auto at = [&](size_t i, size_t j) -> size_t & { return d[i * width + j]; };
  for (size_t i = 0; i <= a.size(); ++i) at(i, 0) = i;
  for (size_t j = 0; j <= b.size(); ++j) at(0, j) = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = LowerAscii(a[i - 1]) == LowerAscii(b[j - 1]) ? 0 : 1;
      at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + cost});
      if (i > 1 && j > 1 && LowerAscii(a[i - 1]) == LowerAscii(b[j - 2]) &&
          LowerAscii(a[i - 2]) == LowerAscii(b[j - 1])) {
        at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
      }
    }
  }
  return at(a.size(), b.size());
}

// How many slips a name of this length may hold and still be recognised.
size_t Tolerance(size_t length) {
  if (length <= 3) return 1;
  if (length <= 8) return 2;
  return 3;
}

}  // namespace

std::string ClosestName(std::string_view given, const std::vector<std::string> &known) {
  if (given.empty() || given.size() > kLongestName) return "";
  size_t best = std::numeric_limits<size_t>::max();
  std::string closest;
  for (const std::string &name : known) {
    if (name.size() > kLongestName) continue;
    const size_t distance = Distance(given, name);
    const size_t longer = std::max(given.size(), name.size());
    // A slip leaves most of the name: "-x" is not one of "-h".
    if (distance * 2 >= longer) continue;
    if (distance <= Tolerance(longer) && distance < best) {
      best = distance;
      closest = name;
    }
  }
  return closest;
}

std::string DidYouMean(std::string_view given, const std::vector<std::string> &known) {
  const std::string closest = ClosestName(given, known);
  return closest.empty() ? "" : "; did you mean '" + closest + "'?";
}

}  // namespace host
