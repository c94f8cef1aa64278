#pragma once
// Position texts as the radio sends them, degrees and minutes run together
// ("05232.103" is 52 degrees 32.103 minutes), turned into decimal degrees.
#include <optional>
#include <string_view>

namespace monitor {

// `limit` is 90 for a latitude and 180 for a longitude. A hemisphere letter
// before or after the number (N/S, E/W) gives the sign. Empty when the text
// does not read as degrees and minutes.
std::optional<double> degrees_from_text(std::string_view text, int limit);

}  // namespace monitor
