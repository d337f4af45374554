// Texts between the driver (code page 936, GBK) and the terminal and files of
// the host (UTF-8).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tk571::host {

// Exact conversions; nullopt when the input holds a sequence the other side
// cannot represent.
std::optional<std::string> GbkToUtf8(std::string_view gbk);
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

// GBK bytes for display: what cannot be decoded becomes '?', so a garbled
// text from a controller still prints.
std::string DisplayText(std::string_view gbk);

// Columns a UTF-8 text occupies on a terminal: East Asian wide characters take
// two, control characters none.
int DisplayWidth(std::string_view utf8);

// Pads with blanks to `width` columns, or cuts at a character boundary with
// "…" when the text is wider.
std::string FitToWidth(std::string_view utf8, int width);

}  // namespace tk571::host
