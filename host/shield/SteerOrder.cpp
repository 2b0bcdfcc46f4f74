#include "shield/SteerOrder.h"

#include "AsciiCase.h"
#include "base/DidYouMean.h"
#include "base/Duration.h"
#include "shield/ShieldValues.h"

namespace host {

namespace {

constexpr const char *kVerbs[] = {"shields", "lift", "shield", "allow"};

// Reads the words after the verb: options with their values, and at most one plain word.
class WordReader {
 public:
  explicit WordReader(const std::vector<std::string> &words) : words_(words) {}

  bool Next(std::string &word) {
    if (at_ >= words_.size()) return false;
    word = words_[at_++];
    return true;
  }
  std::string Value(const std::string &option) {
    if (at_ >= words_.size()) throw OrderError(option + " needs a value");
    return words_[at_++];
  }

 private:
  const std::vector<std::string> &words_;
  size_t at_ = 1;
};

AddressSelector Selector(const std::string &word) {
  std::optional<AddressSelector> selector = AddressSelector::Parse(word);
  if (!selector) throw OrderError("'" + word + "' is not an IPv4 or IPv6 address or CIDR range");
  return *selector;
}

int64_t Seconds(const std::string &option, const std::string &value) {
  const std::optional<int64_t> seconds = ParseDuration(value);
  if (!seconds || *seconds <= 0 || *seconds > 315360000) {
    throw OrderError(option + " '" + value +
                     "': expected a duration such as 90s, 15m, 12h, 7d, 1w or plain seconds, "
                     "at most ten years");
  }
  return *seconds;
}

// A value an operator typed that ends in a map file or a web server's rewrite is checked as
// the plug-in's are.
void CheckShieldValues(const SteerOrder &order) {
  Shield shield;
  shield.address = order.target ? order.target->text : "";
  shield.host = order.host;
  shield.resource = order.resource;
  shield.deflect = order.deflect;
  if (const std::string why = ShieldValues::Refusal(shield); !why.empty()) throw OrderError(why);
  if (!order.resource.empty() && order.resource[0] != '/')
    throw OrderError("--resource '" + order.resource + "' must begin with '/'");
}

}  // namespace

const char *SteerOrder::Name() const {
  return kVerbs[static_cast<int>(verb)];
}

SteerOrder SteerOrder::Parse(const std::vector<std::string> &words) {
  SteerOrder order;
  if (words.empty()) throw OrderError("no command");
  bool known = false;
  for (int i = 0; i < 4; ++i) {
    if (words[0] == kVerbs[i]) {
      order.verb = static_cast<Verb>(i);
      known = true;
    }
  }
  if (!known) throw OrderError("unknown command '" + words[0] + "'");
  WordReader rest(words);
  std::string word, plain;
  bool hasPlain = false, hasDeflect = false;
  const Verb verb = order.verb;
  while (rest.Next(word)) {
    if (word == "--json" && verb == Verb::kShields) {
      order.json = true;
    } else if (word == "--first" && verb == Verb::kShields) {
      const std::string value = rest.Value(word);
      const std::optional<int64_t> count = ParseDuration(value);  // digits only, as plain seconds
      if (!count || value.back() < '0' || value.back() > '9' || *count < 1 || *count > 1000000)
        throw OrderError("--first '" + value + "': expected a count from 1 to 1000000");
      order.first = *count;
    } else if (word == "--all" && verb == Verb::kLift) {
      order.all = true;
    } else if ((word == "--host" || word == "--resource") &&
               (verb == Verb::kLift || verb == Verb::kShield)) {
      std::string &value = word == "--host" ? order.host : order.resource;
      value = rest.Value(word);
      if (value.empty()) throw OrderError(word + " cannot be empty");
      for (char c : value) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
          throw OrderError(word + " cannot hold a control character");
      }
      if (word == "--host") {
        // Shields key their host in lower case, as the web servers' maps do; a host no shield
        // can hold (a blank, a separator of a map key) is refused here rather than matched
        // against nothing or raised into a map.
        common::LowerAsciiInPlace(value);
        if (std::string refusal = ShieldValues::HostRefusal(value); !refusal.empty())
          throw OrderError("--host '" + value + "': " + refusal);
      }
    } else if (word == "--seconds" && verb == Verb::kShield) {
      order.seconds = Seconds(word, rest.Value(word));
    } else if (word == "--deflect" && verb == Verb::kShield) {
      order.deflect = rest.Value(word);
      hasDeflect = true;
    } else if (word == "--for" && verb == Verb::kAllow) {
      order.forSeconds = Seconds(word, rest.Value(word));
    } else if (word == "--why" && verb == Verb::kAllow) {
      order.why = rest.Value(word);
      if (order.why.size() > 500) throw OrderError("--why is longer than 500 bytes");
    } else if (word == "--remove" && verb == Verb::kAllow) {
      order.remove = true;
    } else if (word == "--list" && verb == Verb::kAllow) {
      order.list = true;
    } else if (word.starts_with("-") && word.size() > 1) {
      static const std::vector<std::string> kOptions = {
          "--json",    "--all", "--host", "--resource", "--seconds",
          "--deflect", "--for", "--why",  "--remove",   "--list"};
      throw OrderError(std::string("unknown option '") + word + "' for " + order.Name() +
                       DidYouMean(word, kOptions));
    } else if (hasPlain) {
      throw OrderError("one address at a time: '" + plain + "', then '" + word + "'");
    } else {
      plain = word;
      hasPlain = true;
    }
  }
  if (hasPlain) order.target = Selector(plain);
  switch (verb) {
    case Verb::kShields:
      if (hasPlain) throw OrderError("shields takes no address");
      break;
    case Verb::kLift:
      if (order.all == hasPlain) throw OrderError("lift needs an address or range, or --all");
      if (order.all && (!order.host.empty() || !order.resource.empty()))
        throw OrderError("--all lifts every shield: give --host and --resource with an address");
      break;
    case Verb::kShield:
      if (!hasPlain) throw OrderError("shield needs an address");
      if (order.target->text.find('/') != std::string::npos)
        throw OrderError("shield takes one address, not a range");
      if (order.host.empty() != order.resource.empty())
        throw OrderError("give --host and --resource together, or neither for the whole address");
      if (!hasDeflect) order.deflect = kManualDeflect;
      CheckShieldValues(order);
      break;
    case Verb::kAllow:
      if (order.list + order.remove > 1) throw OrderError("--list and --remove exclude each other");
      if (order.list == hasPlain) {
        throw OrderError(order.list ? "--list takes no address"
                                    : "allow needs an address or range, or --list");
      }
      if ((order.list || order.remove) && (order.forSeconds > 0 || !order.why.empty()))
        throw OrderError("--for and --why go with an entry that is added");
      break;
  }
  return order;
}

std::vector<std::string> SteerOrder::Words() const {
  std::vector<std::string> words{Name()};
  if (target) words.push_back(target->text);
  auto option = [&](const char *name, const std::string &value) {
    if (!value.empty()) words.insert(words.end(), {name, value});
  };
  if (json) words.emplace_back("--json");
  if (first > 0) option("--first", std::to_string(first));
  if (all) words.emplace_back("--all");
  if (remove) words.emplace_back("--remove");
  if (list) words.emplace_back("--list");
  option("--host", host);
  option("--resource", resource);
  if (verb == Verb::kShield) option("--deflect", deflect);
  option("--why", why);
  if (seconds > 0) option("--seconds", std::to_string(seconds));
  if (forSeconds > 0) option("--for", std::to_string(forSeconds));
  return words;
}

}  // namespace host
