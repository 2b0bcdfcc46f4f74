#pragma once

#include <optional>
#include <string>

#include <vector>

#include "report/ReportData.h"

namespace report {

std::optional<TimeSpan> SpanOf(const RunData &run);

// The self-contained page for one run: no network, no external style, script or font; its
// own style and script run under a Content-Security-Policy nonce and nothing else does.
class HtmlPage {
 public:
  // nonce: a fresh random token of letters and digits; writtenAt: when the page is written.
  HtmlPage(const RunData &run, std::string nonce, std::string writtenAt);

  std::string Render() const;

 private:
  void AppendHead(std::string &out) const;
  void AppendFigures(std::string &out) const;
  void AppendShields(std::string &out) const;
  void AppendAlerts(std::string &out) const;
  void AppendNoted(std::string &out) const;
  void AppendVisitors(std::string &out) const;
  void AppendData(std::string &out) const;
  // Says why a section is empty; false when its file was read.
  bool AppendUnread(std::string &out, const Source &source) const;
  int64_t VisitorsAtLevel(int level) const;

  const RunData &run_;
  std::string nonce_;
  std::string writtenAt_;
  std::optional<TimeSpan> span_;
  std::vector<NotedVisitor> noted_;  // alerted or shielded during the run
};

}  // namespace report
