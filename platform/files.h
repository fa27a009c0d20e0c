// File-system services the system's programs expect of their platform.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Path of the running program file (for a shared library: of the program that loaded it).
std::string ProgramPath();
// Folder of the running program file, with a trailing "/".
std::string ProgramDir();
// Current directory with a trailing "/".
std::string CurrentDir();
// The user's home folder ($HOME, else the password entry's), without a trailing "/"; "" when
// there is none.
std::string HomeDir();
// A per-user file of the system: the path in $override_var when set, else
// $xdg_var/qar/name, else ~/home_folder/qar/name (the XDG rules ignore a relative folder);
// "" without a home folder.
std::string UserFile(const char* override_var, const char* xdg_var, const char* home_folder, const std::string& name);
// Folder part of a path including its trailing "/" ("" when the path has none).
std::string DirOf(const std::string& path);
// Appends "/" unless the text already ends in one (an empty text stays empty).
std::string WithTrailingSlash(std::string dir);

// File names are the file system's bytes (UTF-8); the system's texts and its own files are
// Windows-1252. FileNameText is the text that names a file: characters without a Windows-1252
// form become "?", and a name that is no UTF-8 (an old Latin-1 one) stays as it is.
// TextFileName is the file name that a text names.
std::string FileNameText(const std::string& name);
std::string TextFileName(const std::string& text);

// Free bytes for an unprivileged writer on the file system that holds path; -1 when unknown.
int64_t FreeDiskBytes(const std::string& path);

// The system's own files come from installations whose file names differ in case
// ("ostrel.ini", "Ostrel.INI"). Returns the path of the existing entry whose last component
// equals that of path ignoring ASCII case (an exact match wins), or "" when there is none.
std::string FindFileNoCase(const std::string& path);
// FindFileNoCase, or path itself when nothing matches (for opening with a clear error).
std::string ResolveNoCase(const std::string& path);

// Opens path with the open(2) flags (and mode, for O_CREAT) only when it is a regular file, the
// one check of every file the system's programs read as data: a FIFO, a device, a socket or a
// folder is refused without anything waiting on it or opening it for more than a look, since
// reading a FIFO that no one writes would block for good. A link is followed unless flags hold
// O_NOFOLLOW, which refuses it. Returns the descriptor (blocking, close-on-exec), or -1 with
// errno; a refusal sets errno to EINVAL and *refused to what the path is ("a folder", "a FIFO",
// "a device", "a socket", "a link"), which stays empty for any other failure.
int OpenRegularFile(const std::string& path, int flags, std::string* refused = nullptr, unsigned mode = 0644);
// The whole content of the regular file at path (OpenRegularFile for reading); false, with
// errno and *refused as there, when it cannot be opened. A read error ends the text where it is.
bool ReadRegularFile(const std::string& path, std::string& text, std::string* refused = nullptr);

}  // namespace platform
