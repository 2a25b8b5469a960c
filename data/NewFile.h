#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vx::data {

// A file that could not be created, written, read or renamed; what() names
// the file and says what the system said.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True when something (a file, a folder) already has this name.
bool pathExists(const std::string& path);

// A new file that appears under its name only when it is complete. It is
// written to a temporary name beside the target (same folder, so the final
// rename never copies) and renamed at commit(); until then, and after any
// failure, nothing exists under the target's name. An existing file is never
// replaced, not even one that appeared while this one was being written.
// Paths are byte strings in the system code page.
class NewFile {
public:
    explicit NewFile(std::string target);
    ~NewFile(); // removes the temporary file unless committed
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    void write(std::string_view bytes);
    // Writes what is buffered, makes it durable, and gives the file its name.
    // On failure the temporary file is removed at once.
    void commit();

    const std::string& target() const { return m_target; }

private:
    void flushBuffer();
    void finish();
    [[noreturn]] void writeFailed() const;

    std::string m_target, m_temp;
    std::FILE* m_file = nullptr;
    std::string m_buffer;
    bool m_committed = false;
};

// Platform parts, one file per platform.
// Each reports a failure with the system's text in why.
namespace platform {
// Creates path for writing, only if nothing has that name (taken is set
// when something has); null on failure.
std::FILE* createExclusive(const std::string& path, bool& taken, std::string& why);
// Makes what was written to the open file durable.
bool syncFile(std::FILE* file, std::string& why);
// Gives from the name to, refusing when something already has that name.
bool renameNoReplace(const std::string& from, const std::string& to, std::string& why);
bool exists(const std::string& path);
// A number that differs between processes running at the same time.
unsigned long processId();
} // namespace platform

} // namespace vx::data
