#include "engine/number_text.h"

#include <charconv>
#include <cmath>

namespace tk571 {

std::string FloatText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buffer[64];
  // std::to_chars never consults the locale.
  const auto result =
      std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::general, 15);
  std::string text(buffer, result.ptr);
  if (text == "-0") text = "0";
  return text;
}

}  // namespace tk571
