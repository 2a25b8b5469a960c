#pragma once

#include <string>

namespace vx::print {

// Why the CUPS queue takes jobs without printing them (it is disabled, as
// cupsdisable leaves it: jobs wait in it until it is enabled), for the job's
// outcome; empty when it prints, or when lpstat cannot tell. queue "" is the
// default destination.
std::string cupsQueueHolds(const std::string& queue);

} // namespace vx::print
