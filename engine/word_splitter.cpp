#include "engine/option_parser.h"

namespace qm::engine {

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  const size_t n = text.size();
  size_t i = 0;
  for (;;) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) break;
    std::string word;
    bool inQuote = false;
    while (i < n) {
      const char c = text[i];
      if (!inQuote && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        size_t slashes = 0;
        while (i < n && text[i] == '\\') ++slashes, ++i;
        if (i < n && text[i] == '"') {
          word.append(slashes / 2, '\\');
          if (slashes % 2) {
            word += '"';
            ++i;
          }
          // An even count leaves the quote to act as a quote below.
        } else {
          word.append(slashes, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (inQuote && i + 1 < n && text[i + 1] == '"') {
          word += '"';
          i += 2;
        } else {
          inQuote = !inQuote;
          ++i;
        }
        continue;
      }
      // Multi-byte UTF-8 sequences hold no blank or quote byte, so they copy through as they are.
      word += c;
      ++i;
    }
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace qm::engine
