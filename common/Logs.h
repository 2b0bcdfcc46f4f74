#pragma once

#include <string_view>

#include "KvError.h"

namespace common {

// Appends one line to the plug-in's trace log ("KvCorvaneTrace.LOG"), whatever the Trace
// switch says. WriteTrace (Trace.h) is its one caller: it tests the switch first.
void AppendTrace(std::string_view text);

// Appends the error-log line for an error that ended a Stream call of the class whose location
// label is given ("  Class: Corvane  "):
// "<date> Error: <number> <description> Error Source: <label>Sub: Stream" CR "<source>".
// Raises when the log cannot be written.
void WriteErrorLog(std::string_view classLabel, const KvError &error);

// The text of that line, without its line end.
std::string ErrorLogLine(std::string_view classLabel, const KvError &error);

// Runs the body of a plug-in's Stream: an error that leaves it is written to the error log and
// the call ends normally. Only a failure to write the log itself leaves this function.
template <class Body>
void RunStream(const Site &site, Body &&body) {
  try {
    try {
      body();
    } catch (const std::bad_alloc &) {
      Raise(site, kOutOfMemory);
    }
  } catch (const KvError &error) {
    WriteErrorLog(site.label, error);
  }
}

}  // namespace common
