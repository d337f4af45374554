#include "format.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "text_codec.h"

namespace tk571::host {
namespace {

constexpr double kMsPerDay = 86400000.0;
// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;
constexpr int kNameColumns = 16;
constexpr int kAddressColumns = 14;
constexpr int kValueColumns = 34;
constexpr int kQualityColumns = 12;

std::string Trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  return std::string(text);
}

// A length-prefixed field of TTagAddrDesc.
std::string_view PrefixedText(const uint8_t (&field)[256]) {
  return std::string_view(reinterpret_cast<const char*>(field + 1), field[0]);
}

}  // namespace

std::string FormatTime(double days) {
  if (!std::isfinite(days) || days < 0) return "--:--:--.---";
  const auto ms_of_day =
      static_cast<int64_t>(std::llround((days - std::floor(days)) * kMsPerDay)) % 86400000;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(ms_of_day / 3600000),
                static_cast<int>(ms_of_day / 60000 % 60), static_cast<int>(ms_of_day / 1000 % 60),
                static_cast<int>(ms_of_day % 1000));
  return text;
}

double NowAsDays() {
  const auto now = std::chrono::system_clock::now();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  return kUnixEpochDays + (static_cast<double>(ms) + local.tm_gmtoff * 1000.0) / kMsPerDay;
}

std::string FormatIsoTime(double days) {
  if (!std::isfinite(days) || days < 0) return std::string();
  const int64_t ms = std::llround((days - kUnixEpochDays) * kMsPerDay);
  const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  const std::time_t wall = static_cast<std::time_t>(seconds);
  std::tm t{};
  gmtime_r(&wall, &t);  // the wall clock's fields, which are local time
  std::tm local = t;
  local.tm_isdst = -1;
  std::mktime(&local);
  const long offset_minutes = local.tm_gmtoff / 60;
  const long offset = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                static_cast<int>(ms - seconds * 1000), offset_minutes < 0 ? '-' : '+', offset / 60,
                offset % 60);
  return text;
}

std::string FormatNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string FormatQuality(uint32_t quality) {
  switch (quality) {
    case TK571_QUALITY_GOOD:
      return "good";
    case TK571_QUALITY_WRITE_STALE:
      return "write stale";
    case TK571_QUALITY_WRITE_FAILED:
      return "write failed";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "0x%X", quality);
      return text;
    }
  }
}

std::string FormatValue(const TTagValueRec& record) {
  switch (record.ValueType) {
    case TK571_VALUE_FLOAT:
      return FormatNumber(record.Value.Float);
    case TK571_VALUE_BOOL:
      return record.Value.Bool != 0 ? "on" : "off";
    case TK571_VALUE_STRING:
      return record.Value.String ? DisplayText(record.Value.String) : std::string();
    default:
      return "(type " + std::to_string(record.ValueType) + ")";
  }
}

std::string FormatInitialValue(const TagDefinition& tag) {
  if (const double* number = std::get_if<double>(&tag.initial)) return FormatNumber(*number);
  if (const bool* on = std::get_if<bool>(&tag.initial)) return *on ? "on" : "off";
  if (const std::string* text = std::get_if<std::string>(&tag.initial)) return DisplayText(*text);
  // The driver's own starting value (a link text, say) is not the host's to guess.
  return "-";
}

std::string FormatChange(const TTagValueRec& record, const TagDefinition* tag) {
  const std::string name = tag ? tag->name : "#" + std::to_string(record.TagID);
  const std::string address = tag ? tag->address : std::string();
  std::string value = FormatValue(record);
  if (record.ValueType == TK571_VALUE_STRING) value = "\"" + value + "\"";
  return FormatTime(record.TimeStamp) + "  " + FitToWidth(name, kNameColumns) + " " +
         FitToWidth(address, kAddressColumns) + " = " + value + "  " +
         FormatQuality(record.Quality);
}

namespace {

nlohmann::json JsonValue(const TTagValueRec& record) {
  switch (record.ValueType) {
    case TK571_VALUE_FLOAT: {
      // A copy: the record is packed, and the JSON value would bind a
      // reference to the unaligned field.
      const double value = record.Value.Float;
      if (!std::isfinite(value)) return nullptr;
      return value;
    }
    case TK571_VALUE_BOOL:
      return record.Value.Bool != 0;
    default:
      return FormatValue(record);
  }
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string FormatChangeJson(const TTagValueRec& record, const TagDefinition* tag) {
  nlohmann::ordered_json object;
  object["type"] = "value";
  object["time"] = FormatIsoTime(record.TimeStamp);
  object["id"] = record.TagID;
  object["name"] = tag ? tag->name : std::string();
  object["address"] = tag ? tag->address : std::string();
  object["value"] = JsonValue(record);
  object["quality"] = record.Quality;
  object["quality_text"] = FormatQuality(record.Quality);
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string FormatChangeCsv(const TTagValueRec& record, const TagDefinition* tag) {
  std::string value = FormatValue(record);
  return FormatIsoTime(record.TimeStamp) + "," + std::to_string(record.TagID) + "," +
         CsvField(tag ? tag->name : std::string()) + "," +
         CsvField(tag ? tag->address : std::string()) + "," + CsvField(value) + "," +
         std::to_string(record.Quality) + "," + CsvField(FormatQuality(record.Quality));
}

std::vector<std::string> FormatMessage(std::string_view time, std::string_view gbk_message) {
  std::vector<std::string> lines;
  const std::string text = DisplayText(gbk_message);
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string line = Trimmed(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.empty()) lines.push_back(std::string(time) + "  driver: " + line);
  }
  return lines;
}

std::vector<std::string> FormatKinds(const std::vector<TTagAddrDesc>& kinds) {
  static constexpr const char* kAccess[] = {"read", "write", "read/write"};
  std::vector<std::string> lines;
  lines.push_back(FitToWidth("kind", 11) + FitToWidth("value", 7) + FitToWidth("access", 12) +
                  FitToWidth("range", 20) + "description");
  for (const TTagAddrDesc& kind : kinds) {
    const std::string access = kind.Access < 3 ? kAccess[kind.Access] : "?";
    const std::string range = FormatNumber(kind.Lower) + ".." + FormatNumber(kind.Upper);
    lines.push_back(FitToWidth(DisplayText(PrefixedText(kind.Name)), 11) +
                    FitToWidth(kind.ValueType == 0 ? "float" : "bool", 7) + FitToWidth(access, 12) +
                    FitToWidth(range, 20) + DisplayText(PrefixedText(kind.Description)));
  }
  return lines;
}

std::vector<std::string> RenderTable(const std::vector<TagRow>& rows, int width) {
  const auto fit = [&](std::string line) {
    return DisplayWidth(line) > width ? FitToWidth(line, width) : line;
  };
  std::vector<std::string> lines;
  lines.push_back(fit(FitToWidth("tag", kNameColumns) + " " +
                      FitToWidth("address", kAddressColumns) + " " +
                      FitToWidth("value", kValueColumns) + " " +
                      FitToWidth("quality", kQualityColumns) + " changed"));
  for (const TagRow& row : rows) {
    const std::string name = row.tag ? row.tag->name : std::string();
    const std::string address = row.tag ? row.tag->address : std::string();
    lines.push_back(
        fit(FitToWidth(name, kNameColumns) + " " + FitToWidth(address, kAddressColumns) + " " +
            FitToWidth(row.value, kValueColumns) + " " +
            FitToWidth(row.reports ? FormatQuality(row.quality) : "-", kQualityColumns) + " " +
            (row.reports ? row.changed : std::string("-"))));
  }
  return lines;
}

}  // namespace tk571::host
