// A child for the process tests: sleeps for argv[1] seconds (60 when not given), then exits.
#include <unistd.h>

#include <cstdlib>

int main(int argc, char** argv) {
  unsigned left = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 60;
  while (left > 0) left = sleep(left);
  return 0;
}
