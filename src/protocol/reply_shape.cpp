#include "protocol/reply_shape.h"

#include <array>
#include <span>

#include "engine/run_log.h"
#include "protocol/reply_text.h"

namespace tk571 {

namespace {

constexpr std::string_view kLineEnd = kCrLf;
constexpr std::array<std::string_view, 3> kStates = {"OL", "ST", "US"};
constexpr std::array<std::string_view, 2> kKinds = {"NT", "GS"};
// "ST,GS," before the value field.
constexpr std::size_t kFieldsChars = 6;
constexpr std::size_t kValueChars = 8;
// The unit after the value ("kg", "t", "lb"); the controller shows at most
// four characters there.
constexpr std::size_t kMaxUnitChars = 4;
constexpr std::size_t kStatusFieldChars = 18;
constexpr std::size_t kStatusFields = 4;
constexpr std::size_t kStatusLineChars = kStatusFieldChars * kStatusFields;

bool OneOf(std::string_view text, std::span<const std::string_view> words) {
  for (std::string_view word : words)
    if (text == word) return true;
  return false;
}

// The weighing answer that starts at `p`, if one does.
std::optional<ShapeMatch> ReadingAt(std::string_view buffer, std::size_t p) {
  if (buffer.size() - p < kFieldsChars + kValueChars + kLineEnd.size()) return std::nullopt;
  if (!OneOf(buffer.substr(p, 2), kStates) || buffer[p + 2] != ',' ||
      !OneOf(buffer.substr(p + 3, 2), kKinds) || buffer[p + 5] != ',')
    return std::nullopt;
  const std::size_t unit = p + kFieldsChars + kValueChars;
  const std::size_t end = buffer.find(kLineEnd, unit);
  if (end == std::string_view::npos || end - unit > kMaxUnitChars) return std::nullopt;
  if (buffer.substr(p, end - p).find('\n') != std::string_view::npos) return std::nullopt;
  return ShapeMatch{p, end + kLineEnd.size(), buffer.substr(p, end - p)};
}

std::optional<ShapeMatch> StatusLineAt(std::string_view buffer, std::size_t p) {
  if (buffer.size() - p < kStatusLineChars) return std::nullopt;
  for (std::size_t k = 0; k < kStatusFields; ++k) {
    const std::size_t field = p + k * kStatusFieldChars;
    if (buffer[field] != 'M' || buffer[field + 1] != static_cast<char>('1' + k))
      return std::nullopt;
  }
  const std::size_t end = p + kStatusLineChars - kLineEnd.size();
  if (buffer.substr(end, kLineEnd.size()) != kLineEnd) return std::nullopt;
  return ShapeMatch{p, end + kLineEnd.size(), buffer.substr(p, end - p)};
}

// The last start position in the buffer at which `at` finds a whole answer:
// when a late answer and the awaited one are both in, the awaited one came
// last.
template <class At>
std::optional<ShapeMatch> LastMatch(std::string_view buffer, At at) {
  for (std::size_t p = buffer.size(); p-- > 0;)
    if (auto match = at(buffer, p)) return match;
  return std::nullopt;
}

}  // namespace

std::optional<ShapeMatch> FindReading(std::string_view buffer) {
  return LastMatch(buffer, ReadingAt);
}

std::optional<ShapeMatch> FindStatusLine(std::string_view buffer) {
  return LastMatch(buffer, StatusLineAt);
}

std::optional<ShapeMatch> FindLineWith(std::string_view buffer, std::string_view part) {
  if (part.empty()) return std::nullopt;
  for (std::size_t at = buffer.rfind(part); at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : buffer.rfind(part, at - 1)) {
    const std::size_t end = buffer.find(kLineEnd, at + part.size());
    if (end == std::string_view::npos) continue;
    // The part must lie on the line that this CR LF ends.
    if (buffer.substr(at, end - at).find('\n') != std::string_view::npos) continue;
    const std::size_t previous = buffer.rfind('\n', at);
    const std::size_t begin = previous == std::string_view::npos ? 0 : previous + 1;
    return ShapeMatch{begin, end + kLineEnd.size(), buffer.substr(begin, end - begin)};
  }
  return std::nullopt;
}

std::optional<ShapeMatch> FindPrompt(std::string_view buffer) {
  for (std::size_t end = buffer.rfind(kLineEnd); end != std::string_view::npos;
       end = end == 0 ? std::string_view::npos : buffer.rfind(kLineEnd, end - 1)) {
    const std::size_t previous = end == 0 ? std::string_view::npos : buffer.rfind('\n', end - 1);
    const std::size_t line = previous == std::string_view::npos ? 0 : previous + 1;
    // Noise in front of the prompt sits on its line.
    for (std::size_t p = line; p + 1 < end; ++p)
      if (buffer[p] == 'M' && buffer[p + 1] >= '0' && buffer[p + 1] <= '9')
        return ShapeMatch{p, end + kLineEnd.size(), buffer.substr(p, end - p)};
  }
  return std::nullopt;
}

std::optional<double> FieldValue(std::string_view field_start) {
  return ParseDecimal(RemoveSpaces(SubText(field_start, kFieldsChars + 1, kValueChars)));
}

}  // namespace tk571
