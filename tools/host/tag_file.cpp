#include "tag_file.h"

#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "text_codec.h"
#include "tokens.h"

namespace tk571::host {
namespace {

constexpr std::size_t kRequiredWords = 5;
constexpr std::size_t kMaxWords = 6;
// An hour: a longer period is a typing mistake, not a plant setting.
constexpr std::chrono::milliseconds kMaxScan{3600000};

std::optional<uint8_t> ParseKind(std::string_view word) {
  const std::string kind = ToUpperAscii(word);
  if (kind == "FLOAT" || kind == "ANALOG" || kind == "NUMBER" || kind == "0") {
    return TK571_VALUE_FLOAT;
  }
  if (kind == "BOOL" || kind == "SWITCH" || kind == "1") return TK571_VALUE_BOOL;
  if (kind == "STRING" || kind == "TEXT" || kind == "2") return TK571_VALUE_STRING;
  return std::nullopt;
}

// Parses one line that holds words; returns an error text or empty.
std::string ParseDefinition(const std::vector<std::string>& words, TagDefinition* tag) {
  if (words.size() < kRequiredWords) {
    return "expected id, name, address, kind and scan period, found " +
           std::to_string(words.size()) + " word(s)";
  }
  if (words.size() > kMaxWords) return "too many words after the initial value";

  const std::optional<int64_t> id = ParseInteger(words[0]);
  if (!id || *id < 0 || *id > kMaxTagId) {
    return "tag id \"" + words[0] + "\" is not a number in 0.." + std::to_string(kMaxTagId);
  }
  tag->id = static_cast<uint32_t>(*id);

  tag->name = words[1];
  const std::optional<std::string> name = Utf8ToGbk(tag->name);
  if (!name) return "name \"" + tag->name + "\" has characters outside code page 936";
  if (name->empty() || name->size() > kMaxNameBytes) {
    return "name \"" + tag->name + "\" must be 1.." + std::to_string(kMaxNameBytes) +
           " bytes in code page 936";
  }
  tag->name_gbk = *name;

  tag->address = words[2];
  const std::optional<std::string> address = Utf8ToGbk(tag->address);
  if (!address) return "address \"" + tag->address + "\" has characters outside code page 936";
  if (address->empty() || address->size() > kMaxAddressBytes) {
    return "address \"" + tag->address + "\" is longer than " + std::to_string(kMaxAddressBytes) +
           " bytes";
  }
  tag->address_gbk = *address;

  const std::optional<uint8_t> kind = ParseKind(words[3]);
  if (!kind) return "data kind \"" + words[3] + "\" is not float, bool or string";
  tag->kind = *kind;

  const auto scan = ParseDuration(words[4], std::chrono::milliseconds(1));
  if (!scan || scan->count() == 0 || *scan > kMaxScan) {
    return "scan period \"" + words[4] + "\" is not a duration of 1 ms to 1 h";
  }
  tag->scan_ms = static_cast<uint32_t>(scan->count());

  tag->initial = std::monostate{};
  if (words.size() == kMaxWords) {
    const std::string& text = words[5];
    switch (tag->kind) {
      case TK571_VALUE_FLOAT: {
        const std::optional<double> value = ParseNumber(text);
        if (!value) return "initial value \"" + text + "\" of a float tag is not a number";
        tag->initial = *value;
        break;
      }
      case TK571_VALUE_BOOL: {
        const std::optional<bool> value = ParseSwitch(text);
        if (!value) return "initial value \"" + text + "\" of a bool tag is not 0/1, on/off";
        tag->initial = *value;
        break;
      }
      default: {
        const std::optional<std::string> value = Utf8ToGbk(text);
        if (!value) return "initial text \"" + text + "\" has characters outside code page 936";
        tag->initial = *value;
        break;
      }
    }
  }
  return std::string();
}

}  // namespace

std::string_view KindName(uint8_t kind) {
  switch (kind) {
    case TK571_VALUE_FLOAT:
      return "float";
    case TK571_VALUE_BOOL:
      return "bool";
    case TK571_VALUE_STRING:
      return "string";
    default:
      return "?";
  }
}

TagFile ParseTagFile(std::string_view text) {
  TagFile file;
  std::map<uint32_t, int> id_lines;
  std::map<std::string, int> name_lines;
  file.errors = ForEachWordLine(text, [&](int line_number, const std::vector<std::string>& words) {
    TagDefinition tag;
    tag.line = line_number;
    if (std::string error = ParseDefinition(words, &tag); !error.empty()) return error;
    if (const auto seen = id_lines.find(tag.id); seen != id_lines.end())
      return "tag id " + std::to_string(tag.id) + " is already used on line " +
             std::to_string(seen->second);
    if (const auto seen = name_lines.find(tag.name); seen != name_lines.end())
      return "tag name \"" + tag.name + "\" is already used on line " +
             std::to_string(seen->second);
    id_lines.emplace(tag.id, line_number);
    name_lines.emplace(tag.name, line_number);
    file.tags.push_back(std::move(tag));
    return std::string();
  });
  if (file.errors.empty() && file.tags.empty()) file.errors.push_back("no tag defined");
  return file;
}

TagFile ReadTagFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    TagFile file;
    file.errors.push_back("cannot open " + path);
    return file;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return ParseTagFile(content.str());
}

}  // namespace tk571::host
