// A tiny point-of-sale module for the loader tests: appends each call's flag to the file
// named by JOV_TEST_MODULE_LOG.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) void ExecutaModulo(int flag) {
  const char* path = std::getenv("JOV_TEST_MODULE_LOG");
  if (path == nullptr) return;
  if (std::FILE* out = std::fopen(path, "a")) {
    std::fprintf(out, "flag=%d\n", flag);
    std::fclose(out);
  }
}
