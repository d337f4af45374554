// Splitting of the host's text lines (tag files, scripts, typed commands) and
// the number and duration forms they share.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tk571::host {

// Words separated by blanks or tabs. A word in double quotes may hold blanks;
// inside quotes \" and \\ stand for " and \. '#' outside quotes starts a
// comment. Returns an error text for an unterminated quote, else empty.
std::string SplitWords(std::string_view line, std::vector<std::string>* words);

// Runs `use` on the words of every line of `text` that holds any, with the
// line's number; `use` answers an error text or an empty one. The errors,
// unterminated quotes included, come back as "line N: reason".
using WordLineUse =
    std::function<std::string(int line_number, const std::vector<std::string>& words)>;
std::vector<std::string> ForEachWordLine(std::string_view text, const WordLineUse& use);

std::optional<double> ParseNumber(std::string_view text);
std::optional<int64_t> ParseInteger(std::string_view text);

// "40s", "500ms", "2.5s", "1m"; a bare number is in `bare_unit`. Negative
// durations and unknown units give nullopt.
std::optional<std::chrono::milliseconds> ParseDuration(std::string_view text,
                                                       std::chrono::milliseconds bare_unit);

// "1", "true", "on", "yes" and "0", "false", "off", "no", in any letter case.
std::optional<bool> ParseSwitch(std::string_view text);

std::string ToUpperAscii(std::string_view text);

}  // namespace tk571::host
