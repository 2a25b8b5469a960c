#include "data/CalendarTime.h"

namespace vx::data {

std::tm localCalendar(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::tm utcCalendar(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

std::time_t fromUtcCalendar(std::tm tm) {
    return timegm(&tm);
}

} // namespace vx::data
