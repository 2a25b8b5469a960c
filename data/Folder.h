#pragma once

#include <string>

namespace vx::data {

// Folders and whole-file copies, for setting up a station's folder. Paths are
// byte strings in the system code page; a folder's path may end in a
// separator. Failures raise FileError (data/NewFile.h) naming the path and
// what the system said.

// Creates the folder and any missing parents; an existing folder is fine.
void makeFolders(const std::string& path);
// The path made absolute against the current folder (nothing is resolved
// or checked).
std::string absolutePath(const std::string& path);
// The folder of the running program's executable, with a trailing
// separator; "" when the system does not say.
std::string executableFolder();
// The user's home folder ($HOME; %USERPROFILE% on Windows); "" when unknown.
std::string homeFolder();
// Copies the file from to the new file to, which must not exist yet: it
// appears whole or not at all (NewFile), and a file already there stays.
void copyToNewFile(const std::string& from, const std::string& to);
// True for '/' and, on Windows, '\\'.
bool isSeparator(char c);

namespace platform {
// Creates one folder whose parent exists; true when it exists afterwards.
bool makeFolder(const std::string& path, std::string& why);
bool isFolder(const std::string& path);
std::string currentFolder();
bool isAbsolute(const std::string& path);
std::string homeFolder();
std::string executablePath();
} // namespace platform

} // namespace vx::data
