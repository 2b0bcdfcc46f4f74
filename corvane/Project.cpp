#include "Project.h"

std::string_view common::ProjectName() noexcept {
  return "KvCorvane";
}
