#include "data/NewFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vx::data {
namespace {

// Written in pieces of this size: large enough that the system call per
// piece costs nothing beside the formatting.
constexpr std::size_t kBufferBytes = 1 << 20;

} // namespace

bool pathExists(const std::string& path) {
    return platform::exists(path);
}

NewFile::NewFile(std::string target) : m_target(std::move(target)) {
    // The temporary name lives beside the target; a name left by another
    // export running at the same time is skipped.
    bool taken = true;
    std::string why;
    for (unsigned n = 0; n < 100 && taken && !m_file; ++n) {
        m_temp = m_target + "." + std::to_string(platform::processId()) + "-" + std::to_string(n) +
                 ".part";
        m_file = platform::createExclusive(m_temp, taken, why);
    }
    if (!m_file) {
        m_temp.clear();
        throw FileError("Cannot create file \"" + m_target + "\". " + why);
    }
    m_buffer.reserve(kBufferBytes);
}

NewFile::~NewFile() {
    if (m_file)
        std::fclose(m_file);
    if (!m_committed && !m_temp.empty())
        std::remove(m_temp.c_str());
}

void NewFile::writeFailed() const {
    throw FileError("Cannot write file \"" + m_temp + "\". " + std::strerror(errno));
}

void NewFile::write(std::string_view bytes) {
    if (m_buffer.size() + bytes.size() > kBufferBytes)
        flushBuffer();
    if (bytes.size() >= kBufferBytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size())
            writeFailed();
        return;
    }
    m_buffer.append(bytes);
}

void NewFile::flushBuffer() {
    if (m_buffer.empty())
        return;
    if (std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) != m_buffer.size())
        writeFailed();
    m_buffer.clear();
}

void NewFile::commit() {
    try {
        finish();
    } catch (...) {
        // Nothing of a file that failed stays, under any name.
        if (m_file)
            std::fclose(m_file);
        m_file = nullptr;
        std::remove(m_temp.c_str());
        m_temp.clear();
        throw;
    }
}

void NewFile::finish() {
    flushBuffer();
    if (std::fflush(m_file) != 0)
        writeFailed();
    std::string why;
    if (!platform::syncFile(m_file, why))
        throw FileError("Cannot write file \"" + m_temp + "\". " + why);
    const int closed = std::fclose(m_file);
    m_file = nullptr;
    if (closed != 0)
        writeFailed();
    if (!platform::renameNoReplace(m_temp, m_target, why))
        throw FileError("Cannot create file \"" + m_target + "\". " + why);
    m_committed = true;
}

} // namespace vx::data
