#include "platform/local_time.h"

#include "platform/clock.h"

namespace tk571::platform {

double ToHostDate(const LocalDateTime& t) {
  using namespace std::chrono;
  const sys_days day = year_month_day{year{t.year}, month{static_cast<unsigned>(t.month)},
                                      std::chrono::day{static_cast<unsigned>(t.day)}};
  const sys_days epoch = year_month_day{year{1899}, month{12}, std::chrono::day{30}};
  const double days = static_cast<double>((day - epoch).count());
  const double ms_of_day =
      t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.millisecond;
  return days + ms_of_day / 86400000.0;
}

double HostDateNow() {
  return ToHostDate(ToLocalTime(GetClock().Now()));
}

}  // namespace tk571::platform
