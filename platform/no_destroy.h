// Storage for a global that is built at compile time and never destroyed. The server library's
// unit sequence runs from its load and unload hooks, outside the order of C++ static
// initialisers and destructors, so the globals it touches must be usable at both ends.
#pragma once

namespace platform {

template <class T>
union NoDestroy {
  constexpr NoDestroy() : value() {}
  ~NoDestroy() {}
  T value;
};

}  // namespace platform
