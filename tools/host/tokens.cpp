#include "tokens.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tk571::host {

std::string SplitWords(std::string_view line, std::vector<std::string>* words) {
  words->clear();
  std::size_t at = 0;
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (at < line.size()) {
    while (at < line.size() && blank(line[at])) ++at;
    if (at == line.size() || line[at] == '#') break;
    std::string word;
    if (line[at] == '"') {
      ++at;
      bool closed = false;
      while (at < line.size()) {
        const char c = line[at++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && at < line.size() && (line[at] == '"' || line[at] == '\\')) {
          word.push_back(line[at++]);
        } else {
          word.push_back(c);
        }
      }
      if (!closed) return "unterminated quote";
      if (at < line.size() && !blank(line[at]) && line[at] != '#') {
        return "a quoted word must be followed by a blank";
      }
    } else {
      while (at < line.size() && !blank(line[at])) word.push_back(line[at++]);
    }
    words->push_back(std::move(word));
  }
  return std::string();
}

std::vector<std::string> ForEachWordLine(std::string_view text, const WordLineUse& use) {
  std::vector<std::string> errors;
  std::vector<std::string> words;
  int line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    std::string error = SplitWords(line, &words);
    if (error.empty() && !words.empty()) error = use(line_number, words);
    if (!error.empty()) errors.push_back("line " + std::to_string(line_number) + ": " + error);
  }
  return errors;
}

std::optional<double> ParseNumber(std::string_view text) {
  if (text.empty() || text.size() > 64) return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(value)) return std::nullopt;
  // strtod also takes hexadecimal numbers and "inf"; a plant value is decimal.
  for (char c : copy) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
          c == 'e' || c == 'E')) {
      return std::nullopt;
    }
  }
  return value;
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  if (text.empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::chrono::milliseconds> ParseDuration(std::string_view text,
                                                       std::chrono::milliseconds bare_unit) {
  double scale = static_cast<double>(bare_unit.count());
  std::string_view number = text;
  const auto ends_with = [&](std::string_view suffix) {
    return number.size() > suffix.size() && number.substr(number.size() - suffix.size()) == suffix;
  };
  if (ends_with("ms")) {
    number.remove_suffix(2);
    scale = 1;
  } else if (ends_with("s")) {
    number.remove_suffix(1);
    scale = 1000;
  } else if (ends_with("m")) {
    number.remove_suffix(1);
    scale = 60000;
  } else if (ends_with("h")) {
    number.remove_suffix(1);
    scale = 3600000;
  }
  const std::optional<double> value = ParseNumber(number);
  if (!value || *value < 0 || *value * scale > 1e12) return std::nullopt;
  return std::chrono::milliseconds(static_cast<int64_t>(std::llround(*value * scale)));
}

std::optional<bool> ParseSwitch(std::string_view text) {
  const std::string word = ToUpperAscii(text);
  if (word == "1" || word == "TRUE" || word == "ON" || word == "YES") return true;
  if (word == "0" || word == "FALSE" || word == "OFF" || word == "NO") return false;
  return std::nullopt;
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace tk571::host
