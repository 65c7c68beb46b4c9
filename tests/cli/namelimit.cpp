// Stands in for a file system with another name limit (vfat and exFAT
// report 1530, eCryptfs 143), which the tests cannot mount: preloaded into
// lzhsfx, it answers pathconf's _PC_NAME_MAX with LZHSFX_TEST_NAME_MAX.
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

extern "C" long pathconf(const char* path, int name) {
  const char* limit = getenv("LZHSFX_TEST_NAME_MAX");
  if (name == _PC_NAME_MAX && limit != nullptr) return atol(limit);
  using Real = long (*)(const char*, int);
  static Real real = (Real)dlsym(RTLD_NEXT, "pathconf");
  return real(path, name);
}
