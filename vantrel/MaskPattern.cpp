#include "MaskPattern.h"

#include "Convert.h"

namespace vantrel {

MaskPattern::MaskPattern(std::string_view mask)
    : separator_(mask.find('\\') != std::string_view::npos ? '\\' : '/') {
  RequestPath parts;
  parts.Split(mask, separator_);
  partCount_ = parts.PartCount();
  for (int32_t i = 0; i + 1 < partCount_; ++i) directories_.push_back(MakePiece(parts.Part(i)));
  dotCount_ = parts.DotCount();
  name_ = MakePiece(parts.Name());
  extension_ = MakePiece(parts.Extension());
}

MaskPattern::Piece MaskPattern::MakePiece(std::string_view text) {
  return Piece{common::UpperCase(text), text == "*"};
}

bool MaskPattern::Fits(const RequestPath &path) const noexcept {
  if (partCount_ == 0 || path.PartCount() != partCount_) return false;
  for (int32_t i = 0; i + 1 < partCount_; ++i) {
    const Piece &directory = directories_[static_cast<size_t>(i)];
    if (!directory.wildcard && directory.upper != path.Part(i)) return false;
  }
  return LastPartFits(path);
}

bool MaskPattern::LastPartFits(const RequestPath &path) const noexcept {
  if (dotCount_ < 0) return false;
  const int32_t pathDots = path.DotCount();
  if (!name_.wildcard && (pathDots < 0 || name_.upper != path.Name())) return false;
  if (dotCount_ == 0 && pathDots == 0) return true;
  if (pathDots > dotCount_) return false;
  // A mask extension "*" also accepts a path without an extension.
  if (dotCount_ > pathDots) return dotCount_ >= 1 && extension_.wildcard;
  return extension_.wildcard || extension_.upper == path.Extension();
}

}  // namespace vantrel
