#pragma once

#include <cstdint>
#include <string>

namespace bench {

// A generated day of Combined log in the temporary directory, written on first use: a million
// lines times `millions` spread over 24 hours, 20 steady clients among many people, as
// `flowdeck-sample --lines N --hours 24 --steady 20` writes it.
const std::string &SampleDay(int millions);

// The lines a log holds.
uint64_t LinesIn(const std::string &path);

}  // namespace bench
