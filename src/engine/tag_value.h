// The value of a tag: empty, an integer, a floating-point number, a Boolean
// or a GBK text. Numbers compare by value whatever their kind, texts by
// bytes, Booleans only with Booleans.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tk571 {

class TagValue {
 public:
  TagValue() = default;
  static TagValue Integer(int64_t v) { return TagValue(Store(v)); }
  static TagValue Double(double v) { return TagValue(Store(v)); }
  static TagValue Boolean(bool v) { return TagValue(Store(v)); }
  static TagValue Text(std::string v) { return TagValue(Store(std::move(v))); }

  bool IsEmpty() const { return std::holds_alternative<std::monostate>(v_); }
  bool IsInteger() const { return std::holds_alternative<int64_t>(v_); }
  bool IsDouble() const { return std::holds_alternative<double>(v_); }
  bool IsNumber() const { return IsInteger() || IsDouble(); }
  bool IsBoolean() const { return std::holds_alternative<bool>(v_); }
  bool IsText() const { return std::holds_alternative<std::string>(v_); }

  // Conversions as the host record needs them: a number of any kind, true as
  // 1 and false as 0; a text that is not a number gives 0.
  double AsDouble() const;
  // Non-zero numbers and the text "True" (any case) or a non-zero number text are true.
  bool AsBoolean() const;
  // Numbers in their general text form, Booleans as "True"/"False".
  std::string AsText() const;

  // OnDataRead compares every tag with the value last reported at every poll,
  // and that pair is nearly always two readings: two doubles compare here,
  // without a call; every other pair as Equal says.
  friend bool operator==(const TagValue& a, const TagValue& b) {
    const double* x = std::get_if<double>(&a.v_);
    const double* y = std::get_if<double>(&b.v_);
    return x && y ? *x == *y : Equal(a, b);
  }

 private:
  using Store = std::variant<std::monostate, int64_t, double, bool, std::string>;
  explicit TagValue(Store v) : v_(std::move(v)) {}
  static bool Equal(const TagValue& a, const TagValue& b);
  Store v_;
};

// A number rounded to the nearest 32-bit integer, halves to even (the
// conversion of a variant to an integer); nothing for a value outside the
// range or not a number.
std::optional<int32_t> RoundToInt32(double value);
// The same, out of range saturated and NaN as 0.
int32_t SaturatedInt32(double value);

}  // namespace tk571
