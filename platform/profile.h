// Profile files ("INI" files kept by the programs' settings and language texts), read and
// written the way the system's programs expect of their platform: section and key names match
// ignoring case, the first of two equal sections or keys wins, blanks around names and values
// are dropped, a value in matching quotes loses them, and a value is cut to the caller's
// capacity. A write changes one key's line (or adds it) and keeps every other line as it was.
// Texts are Windows-1252 bytes, as in the files.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The value of key in section of file, cut to maxChars; def when the file, the section or the
// key is missing. The file is found whatever the case of its name.
std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& file, size_t maxChars = 254);

// Sets key in section to value: the key's first line in the section is replaced, or a line is
// added after the section's last entry, or the section is appended at the end of the file
// (created when missing). New lines end with CR LF. False when a name or the value could not
// stand in the file (line breaks, "]" in a section, "=" in a key, an empty name) or the file
// could not be written; the old file is then unchanged.
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& file);

}  // namespace platform
