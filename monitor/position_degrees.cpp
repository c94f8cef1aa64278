#include "position_degrees.h"

namespace monitor {

std::optional<double> degrees_from_text(std::string_view t, int limit) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  double sign = 1;
  auto hemisphere = [&sign, limit](char c) {
    if ((limit == 90 && c == 'N') || (limit == 180 && c == 'E')) return true;
    if ((limit == 90 && c == 'S') || (limit == 180 && c == 'W')) {
      sign = -1;
      return true;
    }
    return false;
  };
  if (!t.empty() && hemisphere(t.front())) {
    t.remove_prefix(1);
  } else if (!t.empty() && hemisphere(t.back())) {
    t.remove_suffix(1);
  }
  const size_t dot = t.find('.');
  const std::string_view whole = t.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : t.substr(dot + 1);
  // At least one degree digit and both minute digits.
  if (whole.size() < 3 || whole.size() > 6) return std::nullopt;
  for (char c : whole)
    if (c < '0' || c > '9') return std::nullopt;
  for (char c : fraction)
    if (c < '0' || c > '9') return std::nullopt;
  double degrees = 0;
  for (size_t i = 0; i + 2 < whole.size(); ++i) degrees = degrees * 10 + (whole[i] - '0');
  double minutes = (whole[whole.size() - 2] - '0') * 10 + (whole[whole.size() - 1] - '0');
  double scale = 0.1;
  for (char c : fraction) {
    minutes += (c - '0') * scale;
    scale /= 10;
  }
  if (minutes >= 60) return std::nullopt;
  const double value = degrees + minutes / 60.0;
  if (value > limit) return std::nullopt;
  return sign * value;
}

}  // namespace monitor
