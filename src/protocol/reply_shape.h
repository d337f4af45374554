// The shapes of the controller's answers. The receive buffer holds whatever
// the line carried since the request went out: on a multi-drop line that can
// be a turnaround glitch, the tail of an answer that came too late or the
// controller's answer to an earlier "R". An answer is therefore looked for by
// its shape anywhere in the buffer, never by its position from the start.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tk571 {

// Where an answer was found: `begin` is its first character, `end` is one past
// its terminating CR LF. Everything before `begin` is noise.
struct ShapeMatch {
  std::size_t begin = 0;
  std::size_t end = 0;
  // The answer without its CR LF.
  std::string_view line;
};

// A weighing answer: a state ("OL", "ST" or "US"), ",", a weight kind ("NT"
// or "GS"), ",", the eight-character value field and the unit, ended by
// CR LF: "ST,GS,+0012.50kg" CR LF. The value field is not judged here.
std::optional<ShapeMatch> FindReading(std::string_view buffer);

// The status line: four fields of 18 characters, material k's beginning with
// "Mk", 72 characters with its CR LF.
std::optional<ShapeMatch> FindStatusLine(std::string_view buffer);

// A whole line, ended by CR LF, that contains `part`. Confirmations ("YES",
// "NO ?") and the set-point echo (label and typed value) are such lines.
std::optional<ShapeMatch> FindLineWith(std::string_view buffer, std::string_view part);

// A menu prompt: "M", the material digit and the item with its value
// ("M1 FINAL  0500"), ended by CR LF; the last one in the buffer. The digit
// is not judged here.
std::optional<ShapeMatch> FindPrompt(std::string_view buffer);

// The eight value characters of a weighing answer or a status-line field,
// without blanks, read as a number; nothing when they are not one.
std::optional<double> FieldValue(std::string_view field_start);

}  // namespace tk571
