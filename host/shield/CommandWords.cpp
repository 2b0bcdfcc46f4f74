#include "shield/CommandWords.h"

#include <stdexcept>

namespace host {

std::vector<std::string> SplitCommandWords(std::string_view command) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : command) {
    if (quote != 0) {
      if (c == quote)
        quote = 0;
      else
        word += c;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      inWord = true;
      if (c == '\'' || c == '"')
        quote = c;
      else
        word += c;
    }
  }
  if (quote != 0) throw std::invalid_argument(std::string("an unclosed ") + quote);
  if (inWord) words.push_back(std::move(word));
  if (words.empty()) throw std::invalid_argument("no program named");
  return words;
}

}  // namespace host
