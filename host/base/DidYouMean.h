#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace host {

// The name among `known` that a misspelt `given` most likely meant: the nearest by edit
// distance (insertions, deletions, substitutions and swaps of neighbours, case ignored), when it
// is near enough for a typing slip; empty otherwise. Only a hint: the name is never taken in
// the misspelt one's place.
std::string ClosestName(std::string_view given, const std::vector<std::string> &known);

// "; did you mean 'ShieldSeconds'?" for a close name, empty when none is.
std::string DidYouMean(std::string_view given, const std::vector<std::string> &known);

}  // namespace host
