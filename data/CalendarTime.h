#pragma once

#include <ctime>

namespace vx::data {

// Calendar time, safe on any thread, by each platform's own calls.
std::tm localCalendar(std::time_t t);
std::tm utcCalendar(std::time_t t);
// The inverse of utcCalendar (mktime is the one of localCalendar).
std::time_t fromUtcCalendar(std::tm tm);

} // namespace vx::data
