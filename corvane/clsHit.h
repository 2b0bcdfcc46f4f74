#pragma once

#include <string_view>

#include "StringPool.h"

namespace corvane {

// One request of a visitor, read through its list: valid until the list changes.
class clsHit {
 public:
  // A hit as held: 32 bytes, its texts ids of the plug-in's string pool.
  struct Record {
    double arrivalSerial = 0;
    StringPool::Id action = StringPool::kEmpty;
    StringPool::Id pathInfo = StringPool::kEmpty;
    StringPool::Id pathTranslated = StringPool::kEmpty;
    StringPool::Id queryString = StringPool::kEmpty;
    StringPool::Id serverPort = StringPool::kEmpty;
    bool shielded = false;
  };

  clsHit(const Record &record, const StringPool &pool) noexcept : record_(&record), pool_(&pool) {}

  std::string_view Action() const noexcept { return pool_->Text(record_->action); }
  double ArrivalSerial() const noexcept { return record_->arrivalSerial; }
  std::string_view PathInfo() const noexcept { return pool_->Text(record_->pathInfo); }
  std::string_view PathTranslated() const noexcept { return pool_->Text(record_->pathTranslated); }
  std::string_view QueryString() const noexcept { return pool_->Text(record_->queryString); }
  std::string_view ServerPort() const noexcept { return pool_->Text(record_->serverPort); }
  bool Shielded() const noexcept { return record_->shielded; }

 private:
  const Record *record_;
  const StringPool *pool_;
};

}  // namespace corvane
