#include "Vantrel.h"

#include "Logs.h"

namespace vantrel {

namespace {
constexpr common::Site kSite{"  Class: Vantrel  ", "Vantrel"};
}

Vantrel::Vantrel() = default;
Vantrel::~Vantrel() = default;

void Vantrel::Stream(const common::StreamFields &fields) {
  common::RunStream(kSite, [&] { (void)fields; });
}

}  // namespace vantrel
