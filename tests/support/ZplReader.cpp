#include "tests/support/ZplReader.h"

namespace vx::test {
namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = upper(c);
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::vector<ZplFormat> readZpl(const std::string& job, std::string& problem) {
    std::vector<ZplFormat> out;
    problem.clear();
    std::size_t i = 0;
    auto nextCommand = [&](std::size_t from) {
        const std::size_t p = job.find_first_of("^~", from);
        return p == std::string::npos ? job.size() : p;
    };
    for (;;) {
        while (i < job.size() && blank(job[i]))
            ++i;
        if (i >= job.size())
            return out;
        if (job.compare(i, 3, "^XA") != 0) {
            problem =
                "text outside a format at byte " + std::to_string(i) + ": " + job.substr(i, 20);
            return out;
        }
        ZplFormat f;
        const std::size_t start = i;
        bool hex = false, ended = false;
        char indicator = '_';
        i = nextCommand(i);
        while (!ended) {
            if (i + 2 >= job.size()) {
                problem = "a format that does not end, from byte " + std::to_string(start);
                return out;
            }
            const char prefix = job[i];
            const std::string code{upper(job[i + 1]), upper(job[i + 2])};
            ++f.commands;
            if (prefix == '~')
                ++f.tildeCommands;
            std::size_t from = i + 3;
            const std::size_t end = nextCommand(from);
            if (prefix == '^' && code == "XA" && i != start) {
                problem = "^XA inside the format from byte " + std::to_string(start);
                return out;
            } else if (prefix == '^' && code == "XZ") {
                ended = true;
                i += 3;
                break;
            } else if (code == "FH") {
                hex = true;
                indicator =
                    from < job.size() && job[from] != '^' && job[from] != '~' ? job[from] : '_';
            } else if (code == "FS") {
                hex = false;
            } else if (code == "FD" || code == "FV") {
                std::string data;
                for (std::size_t k = from; k < end; ++k) {
                    if (!hex || job[k] != indicator) {
                        data += job[k];
                        continue;
                    }
                    const int a = k + 1 < end ? hexDigit(job[k + 1]) : -1;
                    const int b = k + 2 < end ? hexDigit(job[k + 2]) : -1;
                    if (a < 0 || b < 0) {
                        problem = "an escape that is not one at byte " + std::to_string(k);
                        return out;
                    }
                    data += static_cast<char>(a * 16 + b);
                    k += 2;
                }
                f.fields.push_back(data);
            }
            i = end;
        }
        f.raw = job.substr(start, i - start);
        out.push_back(std::move(f));
    }
}

} // namespace vx::test
