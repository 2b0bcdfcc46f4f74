#include "Corvane.h"

#include "Logs.h"

namespace corvane {

namespace {
constexpr common::Site kSite{"  Class: Corvane  ", "Corvane"};
}

Corvane::Corvane() = default;
Corvane::~Corvane() = default;

void Corvane::Stream(const common::StreamFields &fields) {
  common::RunStream(kSite, [&] { (void)fields; });
}

int32_t Corvane::Count() const { return 0; }

}  // namespace corvane
