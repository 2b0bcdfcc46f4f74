#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/ReportData.h"

namespace report {

// What the pace test's figures ("hits 22, mean gap 1.000 s, spread 0.012") say about a client,
// in words ("steady, one request every 1s (22 hits, spread 0.012)"):
// a spread near 0 is a fixed timer, "steady"; a larger one, still far below a person's, is
// delays drawn at random around a period. Without figures (a log of an earlier version), only
// what every pace shield means.
std::string PaceDescription(std::string_view figures);

// Joins flowdeck's raises, as its event log tells them, to the plug-in's rows: each row takes
// the regularity raise of the same address, host and resource nearest in time within that
// raise's lifetime, for its offence, lifetime, lift and notes. Every raise left (by hand, of a
// whole address, of the pace test, a regularity shield raised again after a lapse) becomes a
// row of its own, described from its source and figures.
void JoinRaises(std::vector<Shield> &shields, std::vector<Shield> raises);

// What a raise of flowdeck's says in words: "pace test: steady, ...", "raised by hand, the
// whole address", with the notes its figures carry ("claims to be X, is not (...)").
void DescribeRaise(Shield &raise);

// One row per shield. The plug-in's regularity test and flowdeck's pace test may both judge
// the same visitor on the same resource: flowdeck raises the shield once, for the first, yet
// the plug-in's file records its own judgement all the same. Such a pair (same address, host
// and resource, the second judgement within the first shield's lifetime) becomes one row: the
// test that judged first, with the other's time and tally. Keeps the order of the rows left.
void MergeJudgements(std::vector<Shield> &shields);

}  // namespace report
