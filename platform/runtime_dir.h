// The user's private runtime folder of the system: where programs put what only their own user
// may reach (the host's socket, the single-instance locks).
#pragma once

#include <string>

namespace platform {

// $XDG_RUNTIME_DIR/qar, else ~/.qar-run (/tmp/qar-<uid> only where the home is missing, not
// this user's own, not writable or too long a path for a socket); no trailing "/".
std::string UserRuntimeDir();

// Creates dir (not its parents) when missing, mode 0700, or 0750 with group access. An
// existing one must be a real directory (no link), this user's own and closed to others (to
// all but the group with group access). False, with the reason in *error, otherwise.
bool EnsurePrivateDir(const std::string& dir, bool group_access, std::string* error);

}  // namespace platform
