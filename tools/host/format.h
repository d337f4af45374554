// What the host prints: change lines, driver messages, the tag kinds and the
// live table. Every driver text is GBK and is decoded here for a UTF-8
// terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tag_file.h"
#include "tk571/driver.h"

namespace tk571::host {

// Days since 1899-12-30 (the driver's time stamps) as "HH:MM:SS.mmm".
std::string FormatTime(double days);
// The current local time in the same form.
double NowAsDays();
// Days since 1899-12-30, local time, as ISO 8601 with the local offset:
// "2026-12-08T13:05:01.250+01:00"; empty for a time stamp that is none.
std::string FormatIsoTime(double days);

std::string FormatNumber(double value);
std::string FormatQuality(uint32_t quality);
// The value of a record the driver reported (strings decoded).
std::string FormatValue(const TTagValueRec& record);
// What the table shows before a tag's first report: the initial value of the
// tag file, or "-".
std::string FormatInitialValue(const TagDefinition& tag);

// "12:00:01.250  Weight1       READ1:1          = 12.5  good"
std::string FormatChange(const TTagValueRec& record, const TagDefinition* tag);
// The same change as one JSON object on one line:
// {"type":"value","time":"2026-...","id":10,"name":"秤1","address":"READ1:1",
//  "value":12.5,"quality":0,"quality_text":"good"}
std::string FormatChangeJson(const TTagValueRec& record, const TagDefinition* tag);
// As a CSV row under kCsvHeader (RFC 4180 quoting).
inline constexpr std::string_view kCsvHeader = "time,id,name,address,value,quality,quality_text";
std::string FormatChangeCsv(const TTagValueRec& record, const TagDefinition* tag);

// One line per line of the message: "12:00:01.250  driver: 通讯正常!"
std::vector<std::string> FormatMessage(std::string_view time, std::string_view gbk_message);

// The GetTagAddrList table, one kind a line.
std::vector<std::string> FormatKinds(const std::vector<TTagAddrDesc>& kinds);

// One row of the live table.
struct TagRow {
  const TagDefinition* tag = nullptr;
  std::string value;
  uint32_t quality = 0;
  std::string changed;  // time of the last report, empty before the first
  unsigned reports = 0;
};

// Header and one line per tag, each at most `width` columns.
std::vector<std::string> RenderTable(const std::vector<TagRow>& rows, int width);

}  // namespace tk571::host
