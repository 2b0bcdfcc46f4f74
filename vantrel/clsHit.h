#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vantrel {

// The request methods that are recorded; a hit keeps its method as one byte.
enum class HitAction : uint8_t { kGet, kPost, kPut, kHead };

// The recorded method of an action, or nothing for any other action (compared exactly).
inline std::optional<HitAction> HitActionOf(std::string_view action) noexcept {
  if (action == "GET") return HitAction::kGet;
  if (action == "POST") return HitAction::kPost;
  if (action == "PUT") return HitAction::kPut;
  if (action == "HEAD") return HitAction::kHead;
  return std::nullopt;
}

// One recorded request: its method and arrival serial.
class clsHit {
 public:
  clsHit(HitAction action, double arrivalSerial) noexcept
      : arrivalSerial_(arrivalSerial), action_(action) {}

  std::string_view Action() const noexcept {
    static constexpr std::string_view kTexts[] = {"GET", "POST", "PUT", "HEAD"};
    return kTexts[static_cast<size_t>(action_)];
  }
  double ArrivalSerial() const noexcept { return arrivalSerial_; }

 private:
  double arrivalSerial_;
  HitAction action_;
};

static_assert(sizeof(clsHit) <= 16, "a held hit costs at most 16 bytes");

}  // namespace vantrel
