// Loads the server library given as argument and unloads it again: exit 0 when both worked.
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
    return 2;
  }
  void* handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  return dlclose(handle) == 0 ? 0 : 1;
}
