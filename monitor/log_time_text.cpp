#include "log_time_text.h"

#include <cstring>

namespace monitor {

namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool digit(char c) { return c >= '0' && c <= '9'; }

int two_digits(const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

int name_index(const char* p, const char* const* names, int count) {
  for (int i = 0; i < count; ++i)
    if (std::memcmp(p, names[i], 3) == 0) return i;
  return -1;
}

}  // namespace

bool LogTimeText::looks_like(std::string_view t) {
  if (t.size() < kTimeTextLength) return false;
  const char* p = t.data();
  // "Www Mmm dd hh:mm:ss yyyy"; the day is padded with a blank.
  return p[3] == ' ' && p[7] == ' ' && (p[8] == ' ' || digit(p[8])) && digit(p[9]) && p[10] == ' ' && digit(p[11]) &&
         digit(p[12]) && p[13] == ':' && digit(p[14]) && digit(p[15]) && p[16] == ':' && digit(p[17]) && digit(p[18]) &&
         p[19] == ' ' && digit(p[20]) && digit(p[21]) && digit(p[22]) && digit(p[23]) &&
         name_index(p, kWeekdays, 7) >= 0 && name_index(p + 4, kMonths, 12) >= 0;
}

bool LogTimeText::parse(std::string_view t, int64_t* seconds) {
  if (!looks_like(t)) return false;
  const char* p = t.data();
  const int month = name_index(p + 4, kMonths, 12);
  const int day = (p[8] == ' ' ? 0 : p[8] - '0') * 10 + (p[9] - '0');
  const int hour = two_digits(p + 11), minute = two_digits(p + 14), second = two_digits(p + 17);
  const int year = two_digits(p + 20) * 100 + two_digits(p + 22);
  if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return false;
  if (year != cached_year_ || month != cached_month_ || day != cached_day_ || hour != cached_hour_) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_isdst = -1;
    const std::time_t start = std::mktime(&tm);
    if (start == static_cast<std::time_t>(-1)) return false;
    cached_year_ = year;
    cached_month_ = month;
    cached_day_ = day;
    cached_hour_ = hour;
    cached_hour_start_ = start;
  }
  *seconds = cached_hour_start_ + minute * 60 + second;
  return true;
}

}  // namespace monitor
