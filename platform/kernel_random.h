// Random bytes from the kernel (getrandom), for session tokens and new GUIDs: nothing that a
// process copies when it forks, or that another process could work out from earlier output.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

// Fills out; blocks only while the kernel's source is not yet seeded after boot. Throws
// std::system_error when the kernel gives nothing: there is no weaker source to fall back to.
void KernelRandom(std::span<uint8_t> out);

// The same through the given system call (getrandom's signature), so tests can interrupt it
// and cut its reads short.
using GetRandomCall = ssize_t (*)(void* buffer, size_t length, unsigned int flags);
void KernelRandom(std::span<uint8_t> out, GetRandomCall call);

}  // namespace platform
