#include "UserLine.h"

#include "Convert.h"
#include "DateTime.h"
#include "SnapshotText.h"
#include "clsUser.h"
#include "modKvGlobal.h"

namespace corvane {

namespace {

constexpr std::string_view kLineEnds = ">\r\n\t\t\t<HITS>\r\n";

}  // namespace

std::string_view UserLine::Update(const clsUser &user, uint8_t level) {
  const Basis now{user.Hits().Changes(), level, user.Locked()};
  if (!built_ || now != basis_ || user.ServerName() != serverName_) {
    built_ = false;  // until the line is whole again: a failure part-way leads to a rebuild
    Build(user, level);
    basis_ = now;
    built_ = true;
  }
  return line_;
}

size_t UserLine::Footprint() const noexcept {
  return line_.capacity() + browser_.capacity() + server_.capacity() + serverName_.capacity() +
         start_.capacity();
}

void UserLine::Clear() noexcept {
  line_.clear();
  headSize_ = 0;
  browser_.clear();
  server_.clear();
  serverName_.clear();
  start_.clear();
  startBuilt_ = false;
  built_ = false;
}

void UserLine::Release() noexcept {
  Clear();
  line_.shrink_to_fit();
  browser_.shrink_to_fit();
  server_.shrink_to_fit();
  serverName_.shrink_to_fit();
  start_.shrink_to_fit();
}

void UserLine::Build(const clsUser &user, uint8_t level) {
  if (headSize_ == 0) BuildFixed(user);
  if (server_.empty() || user.ServerName() != serverName_) BuildServer(user);
  const clsHits &hits = user.Hits();
  const clsHit last = hits.Hit(hits.Count());
  line_.resize(headSize_);
  OpenAttribute(line_, "LVL");
  AppendNumber(line_, static_cast<int>(level));
  line_.push_back('"');
  AppendPlainAttribute(line_, "CONN", common::BooleanText(last.Action() != "SESSION_END"));
  AppendStart(hits);
  OpenAttribute(line_, "TIME");
  AppendElapsedText(line_, ElapsedBetween(hits.FirstArrival(), last.ArrivalSerial()));
  line_.push_back('"');
  OpenAttribute(line_, "REQS");
  if (hits.Truncated()) line_.append("&gt;");
  AppendNumber(line_, hits.Count());
  line_.push_back('"');
  line_.append(browser_);
  line_.append(server_);
  AppendPlainAttribute(line_, "LCKD", common::BooleanText(user.Locked()));
  line_.append(kLineEnds);
}

void UserLine::BuildFixed(const clsUser &user) {
  std::string browser;
  std::string version;
  common::GetBroswerAndVersion(user.UserAgent(), browser, version);
  browser_.clear();
  AppendAttribute(browser_, "BRSR", browser);
  AppendAttribute(browser_, "BRSRV", version);
  AppendAttribute(browser_, "LHOST", user.LocalHost());
  line_.assign("\t\t<USER");
  AppendAttribute(line_, "KEY", user.Key());
  AppendAttribute(line_, "CTRY", user.Country());
  AppendAttribute(line_, "AGNT", user.UserAgent());
  AppendAttribute(line_, "AUTH", user.AuthUser());
  AppendAttribute(line_, "RESADR", user.ResolvedAddr());
  AppendAttribute(line_, "REMADR", user.RemoteAddr());
  AppendAttribute(line_, "RHOST", user.RemoteHost());
  headSize_ = line_.size();
}

void UserLine::BuildServer(const clsUser &user) {
  server_.clear();
  AppendAttribute(server_, "SVR", user.ServerName());
  AppendAttribute(server_, "LINK", user.ShieldLink());
  AppendAttribute(server_, "ULINK", user.ShieldUnLink());
  serverName_ = user.ServerName();
}

void UserLine::AppendStart(const clsHits &hits) {
  const double first = hits.Hit(1).ArrivalSerial();
  if (!startBuilt_ || first != startSerial_) {
    startBuilt_ = false;
    start_.clear();
    AppendAttribute(start_, "STRT", common::FormatGeneralDate(common::GetDateFromSerial(first)));
    startSerial_ = first;
    startBuilt_ = true;
  }
  line_.append(start_);
}

}  // namespace corvane
