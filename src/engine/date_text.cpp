#include "engine/date_text.h"

#include <cstdio>

#include "platform/clock.h"

namespace tk571 {

std::string DateTimeText(const platform::LocalTime& t) {
  char text[32];
  if (t.hour == 0 && t.minute == 0 && t.second == 0) {
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d", t.year, t.month, t.day);
  } else {
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
  }
  return text;
}

std::string DateTimeText() {
  return DateTimeText(platform::ToLocal(platform::GetClock().Now()));
}

}  // namespace tk571
