#include "engine/tag_value.h"

#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "engine/run_log.h"

namespace tk571 {

namespace {

// A whole text read as a number, or NaN.
double ParseNumber(const std::string& text) {
  if (text.empty()) return NAN;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  return (end && *end == '\0' && errno == 0) ? v : NAN;
}

}  // namespace

double TagValue::AsDouble() const {
  if (IsInteger()) return static_cast<double>(std::get<int64_t>(v_));
  if (IsDouble()) return std::get<double>(v_);
  if (IsBoolean()) return std::get<bool>(v_) ? 1.0 : 0.0;
  if (IsText()) {
    const double v = ParseNumber(std::get<std::string>(v_));
    return std::isnan(v) ? 0.0 : v;
  }
  return 0.0;
}

bool TagValue::AsBoolean() const {
  if (IsBoolean()) return std::get<bool>(v_);
  if (IsText()) {
    const std::string& t = std::get<std::string>(v_);
    if (strcasecmp(t.c_str(), "true") == 0) return true;
    const double v = ParseNumber(t);
    return !std::isnan(v) && v != 0.0;
  }
  return AsDouble() != 0.0;
}

std::string TagValue::AsText() const {
  if (IsInteger()) return std::to_string(std::get<int64_t>(v_));
  if (IsDouble()) return FloatText(std::get<double>(v_));
  if (IsBoolean()) return std::get<bool>(v_) ? "True" : "False";
  if (IsText()) return std::get<std::string>(v_);
  return std::string();
}

bool TagValue::Equal(const TagValue& a, const TagValue& b) {
  if (a.IsNumber() && b.IsNumber()) {
    if (a.IsInteger() && b.IsInteger()) return std::get<int64_t>(a.v_) == std::get<int64_t>(b.v_);
    return a.AsDouble() == b.AsDouble();
  }
  return a.v_ == b.v_;
}

std::optional<int32_t> RoundToInt32(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  // nearbyint rounds halves to even in the default rounding mode.
  const double rounded = std::nearbyint(value);
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return std::nullopt;
  return static_cast<int32_t>(rounded);
}

int32_t SaturatedInt32(double value) {
  if (const auto rounded = RoundToInt32(value)) return *rounded;
  if (std::isnan(value)) return 0;
  return value < 0 ? INT32_MIN : INT32_MAX;
}

}  // namespace tk571
