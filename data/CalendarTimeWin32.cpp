#include "data/CalendarTime.h"

namespace vx::data {

std::tm localCalendar(std::time_t t) {
    std::tm tm{};
    localtime_s(&tm, &t);
    return tm;
}

std::tm utcCalendar(std::time_t t) {
    std::tm tm{};
    gmtime_s(&tm, &t);
    return tm;
}

std::time_t fromUtcCalendar(std::tm tm) {
    return _mkgmtime(&tm);
}

} // namespace vx::data
