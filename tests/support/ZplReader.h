#pragma once

#include <string>
#include <vector>

namespace vx::test {

// What a ZPL printer makes of a job, as far as the tests look at it: its
// label formats, and in each the text of every field with the ^FH escapes
// undone. Written apart from the back end, the way the printer reads.
struct ZplFormat {
    std::string raw;                 // ^XA … ^XZ as received
    std::vector<std::string> fields; // the data of each ^FD or ^FV, decoded
    int commands = 0;                // ^ and ~ commands in it, ^XA and ^XZ included
    int tildeCommands = 0;           // of which ~ commands
};

// Splits a job into its formats. problem: empty, or what keeps the job from
// being formats one after the other (text between them, a format that does
// not end, an escape that is not one).
std::vector<ZplFormat> readZpl(const std::string& job, std::string& problem);

} // namespace vx::test
