#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "RequestPath.h"

namespace vantrel {

// A tripwire's path mask, split once when the definitions are read. A mask holding "\" is held
// against the request's physical path, any other against its path info. "*" as a whole part,
// name or extension fits anything; letter case is ignored.
class MaskPattern {
 public:
  explicit MaskPattern(std::string_view mask);

  bool UsesPathTranslated() const noexcept { return separator_ == '\\'; }
  char Separator() const noexcept { return separator_; }

  // Whether a path split at this mask's separator fits the mask. A path part that the mask has
  // no counterpart for, or the reverse (a directory request, a mask ending in its separator),
  // does not fit.
  bool Fits(const RequestPath &path) const noexcept;

 private:
  struct Piece {
    std::string upper;
    bool wildcard = false;
  };
  static Piece MakePiece(std::string_view text);
  bool LastPartFits(const RequestPath &path) const noexcept;

  char separator_ = '/';
  int32_t partCount_ = 0;
  std::vector<Piece> directories_;
  int32_t dotCount_ = -1;
  Piece name_;
  Piece extension_;
};

}  // namespace vantrel
