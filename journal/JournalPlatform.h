#pragma once

// What the journal needs of the platform, one file per platform
// (JournalPosix.cpp, JournalWin32.cpp).

#include <cstdint>
#include <string>

namespace vx::journal::platform {

// Runs fn(arg) and returns true; false when, inside it, this thread touched
// a memory-mapped file that can no longer be read or written (SIGBUS on
// POSIX: SQLite maps the write-ahead log's index, the -shm file, and a -shm
// file that was truncated or made immutable under it cannot be used). fn is
// then abandoned where it was, so it must hold nothing that needs releasing:
// it makes plain C calls only. A fault outside such a call is left to the
// process's previous handling.
bool runGuarded(void (*fn)(void*), void* arg);

// A lock on a journal file as a whole, held on a descriptor of its own (on
// POSIX flock, which SQLite's byte-range locks do not meet and which closing
// another descriptor of the file does not drop). Every station holds a
// shared one for as long as it writes the file; the archive takes it alone.
class FileLock {
public:
    enum class Mode { Shared, Exclusive };
    enum class Result { Locked, Busy, Missing, Failed };

    FileLock() = default;
    // Closes the descriptor: only once no SQLite connection of this process
    // has the file open, since closing any descriptor of a file drops every
    // POSIX lock the process holds on it.
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Locks the file at path without waiting, creating it when create, and
    // makes sure the file locked is the one the path names when it returns.
    // Busy: someone holds a lock that excludes this one. why: the system's
    // word on a failure.
    Result lock(const std::string& path, Mode mode, bool create, std::string& why);
    bool held() const { return m_fd >= 0; }
    // Whether the file locked is the one the path names now.
    bool locks(const std::string& path) const;
    // Leaves the descriptor open for the rest of the process: a connection
    // abandoned on the file still has it open.
    void abandon();

private:
    int m_fd = -1;
};

// Gives the file a second name (both must be on one file system);
// otherDevice is set when they are not.
bool hardLink(const std::string& from, const std::string& to, bool& otherDevice, std::string& why);
// Gives the file at to the owner and permissions of the file at from, as
// far as this process may (a root tool leaves the station's user able to
// write the journal it made).
void copyOwner(const std::string& from, const std::string& to);
// "20261208T061500Z": a UTC time for file names.
std::string fileStamp(std::int64_t utcMs);

} // namespace vx::journal::platform
