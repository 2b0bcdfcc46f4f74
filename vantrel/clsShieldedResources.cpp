#include "clsShieldedResources.h"

#include <optional>

#include "Convert.h"
#include "KvError.h"
#include "TextFile.h"
#include "modKvGlobal.h"

namespace vantrel {

namespace {

constexpr common::Site kSite{"  Class: clsShieldedResources  ", "clsShieldedResources"};
constexpr std::string_view kElementStart = "<TRIPWIRE ";
constexpr std::string_view kElementEnd = "/>";
const std::vector<int32_t> kNoPositions;

// Calls visit with the positions of both ascending lists in ascending order; stops when visit
// gives false.
template <class Visit>
void VisitInOrder(const std::vector<int32_t> &a, const std::vector<int32_t> &b, Visit &&visit) {
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const bool takeA = j == b.size() || (i < a.size() && a[i] < b[j]);
    if (!visit(takeA ? a[i++] : b[j++])) return;
  }
}

}  // namespace

clsShieldedResources::clsShieldedResources(DefinitionsSettings settings)
    : settings_(std::move(settings)) {}

int32_t clsShieldedResources::ProtectedResourceIndex(std::string_view host,
                                                     std::string_view pathInfo,
                                                     std::string_view pathTranslated) {
  return common::Guard(kSite, "Function: ProtectedResourceIndex", [&] {
    pathInfoSplit_ = pathTranslatedSplit_ = false;
    const bool trace = settings_.Tracing();
    const auto hostEntry = byHost_.find(host);
    const std::vector<int32_t> &ofHost =
        hostEntry == byHost_.end() ? kNoPositions : hostEntry->second;
    int32_t result = 0;
    bool exempt = false;
    VisitInOrder(forEveryHost_, ofHost, [&](int32_t position) {
      const clsShieldedResource &definition = *definitions_[static_cast<size_t>(position - 1)];
      if (!Fits(definition, pathInfo, pathTranslated, trace)) return true;
      if (definition.Inverse()) {
        exempt = true;
        return false;
      }
      if (result == 0) result = position;
      return true;
    });
    return exempt ? 0 : result;
  });
}

// The matching step of ContainsResource against a mask split once ahead: its trace line, and a
// failure to write it, belong to that step.
bool clsShieldedResources::Fits(const clsShieldedResource &definition, std::string_view pathInfo,
                                std::string_view pathTranslated, bool trace) {
  return common::Guard(kSite, "Function: ContainsResource", [&] {
    if (trace) {
      settings_.Trace("ContainsResource Mask=", definition.Resource(), "  PathInfo=", pathInfo,
                      "  PathTranslated=", pathTranslated);
    }
    const MaskPattern &mask = definition.Mask();
    if (mask.UsesPathTranslated()) {
      if (!pathTranslatedSplit_) pathTranslated_.Split(pathTranslated, '\\');
      pathTranslatedSplit_ = true;
      return mask.Fits(pathTranslated_);
    }
    if (!pathInfoSplit_) pathInfo_.Split(pathInfo, '/');
    pathInfoSplit_ = true;
    return mask.Fits(pathInfo_);
  });
}

bool clsShieldedResources::ContainsResource(std::string_view mask, std::string_view pathInfo,
                                            std::string_view pathTranslated) {
  return common::Guard(kSite, "Function: ContainsResource", [&] {
    settings_.Trace("ContainsResource Mask=", mask, "  PathInfo=", pathInfo,
                    "  PathTranslated=", pathTranslated);
    const MaskPattern pattern(mask);
    RequestPath path;
    path.Split(pattern.UsesPathTranslated() ? pathTranslated : pathInfo, pattern.Separator());
    return pattern.Fits(path);
  });
}

const std::shared_ptr<const clsShieldedResource> &clsShieldedResources::Item(
    int32_t position) const {
  return common::Guard(kSite, "Function: Item",
                       [&]() -> const std::shared_ptr<const clsShieldedResource> & {
                         if (position < 1 || position > Count())
                           common::Raise(kSite, common::kInvalidArgument);
                         return definitions_[static_cast<size_t>(position - 1)];
                       });
}

std::shared_ptr<const clsShieldedResource> clsShieldedResources::ItemByHostAndResource(
    std::string_view host, std::string_view mask) const {
  return common::Guard(kSite, "Function: ItemByHostAndResource", [&] {
    // Masks are unique among the definitions, so the mask alone finds the only candidate.
    const auto entry = byMask_.find(mask);
    if (entry == byMask_.end()) return std::shared_ptr<const clsShieldedResource>();
    const auto &definition = definitions_[static_cast<size_t>(entry->second - 1)];
    if (!common::EqualsIgnoreCase(definition->Host(), host))
      return std::shared_ptr<const clsShieldedResource>();
    return definition;
  });
}

void clsShieldedResources::Cycle() {
  common::Guard(kSite, "Sub: Cycle", [&] { Read(); });
}

// Named as the procedure that first read the file, as every failure of a reading is told.
void clsShieldedResources::Read() {
  common::Guard(kSite, "Sub: Class_Initialize", [&] {
    settings_.Trace("Reading .CFG file");
    Clear();
    const std::string &path = settings_.path;
    std::optional<common::TextReader> reader = common::TextReader::TryOpen(path);
    if (!reader) {
      common::CreateIfMissing(kSite, path);
      reader.emplace(kSite, path);
    }
    std::string line;
    while (reader->ReadLine(kSite, line)) ReadLine(line);
    reader.reset();
    settings_.Trace("Done reading .CFG file");
  });
}

void clsShieldedResources::ReadLine(std::string_view line) {
  size_t start = line.find(kElementStart);
  while (start != std::string_view::npos) {
    size_t end = line.find(kElementEnd, start);
    if (end == std::string_view::npos) {
      // An element without its end runs up to the second character of the line: nothing is
      // left of it when it starts further in.
      if (start > 1) common::Raise(kSite, common::kInvalidArgument);
      ReadElement(line.substr(start, 1 - start));
      return;
    }
    end += kElementEnd.size();
    ReadElement(line.substr(start, end - start));
    start = line.find("<TRIPWIRE", end);
  }
}

void clsShieldedResources::ReadElement(std::string_view element) {
  settings_.Trace("TripwireBuffer=", element);
  std::optional<clsShieldedResource::Fields> fields = DefinitionOf(element);
  if (!fields) return;
  auto definition = std::make_shared<const clsShieldedResource>(std::move(*fields));
  Append(definition);
  settings_.Trace("\tShielded Resource Added, Description=", definition->Description(),
                  "  Host=", definition->Host(), "  Resource=", definition->Resource(),
                  "  Deflect=", definition->Deflect(), "  Sensitivity=", definition->Sensitivity(),
                  "  Strength=", definition->Strength(),
                  "  Inverse=", common::BooleanText(definition->Inverse()),
                  "  CarryParameters=", common::BooleanText(definition->CarryParameters()));
}

std::string clsShieldedResources::AttributeOf(std::string_view element, std::string_view name) {
  return common::GetTagValue(element, name);
}

std::optional<clsShieldedResource::Fields> clsShieldedResources::DefinitionOf(
    std::string_view element) {
  auto attribute = [&](std::string_view name) { return AttributeOf(element, name); };
  if (!common::TextToBoolean(kSite, attribute("ACTIVE"))) return std::nullopt;
  clsShieldedResource::Fields fields;
  fields.description = attribute("DESCRIPTION");
  fields.host = attribute("HOST");
  fields.resource = attribute("RESOURCE");
  fields.deflect = attribute("DEFLECT");
  fields.sensitivity = common::TextToInteger(kSite, attribute("SENSITIVITY"));
  fields.strength = common::TextToInteger(kSite, attribute("STRENGTH"));
  fields.inverse = common::TextToBoolean(kSite, attribute("INVERSE"));
  fields.carryParameters = common::TextToBoolean(kSite, attribute("CARRYPARAMETERS"));
  return fields;
}

void clsShieldedResources::Append(std::shared_ptr<const clsShieldedResource> definition) {
  const int32_t position = Count() + 1;
  if (!byMask_.emplace(definition->Resource(), position).second) {
    common::Raise(kSite, common::kDuplicateKey);
  }
  if (definition->Host().empty()) {
    forEveryHost_.push_back(position);
  } else {
    byHost_[definition->Host()].push_back(position);
  }
  definitions_.push_back(std::move(definition));
}

void clsShieldedResources::Clear() noexcept {
  byMask_.clear();
  byHost_.clear();
  forEveryHost_.clear();
  definitions_.clear();
}

}  // namespace vantrel
