// A child for the process tests that names itself the way a Windows program loader does:
//   proc_wine_like ARGV0 COMM [SECONDS]
// rewrites its own argv[0] in place to ARGV0 (e.g. "C:\Jov\JovTab.exe"), sets its comm to COMM
// (the kernel keeps the first 15 characters), then sleeps for SECONDS (60 when not given).
// Exits 2 when ARGV0 does not fit into the room of the original arguments.
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string argv0 = argv[1];
  const std::string comm = argv[2];
  unsigned left = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 60;
  // The arguments lie one after the other; /proc/PID/cmdline shows that whole area.
  char* const begin = argv[0];
  char* const end = argv[argc - 1] + std::strlen(argv[argc - 1]) + 1;
  if (argv0.size() + 1 > static_cast<std::size_t>(end - begin)) return 2;
  std::memset(begin, 0, static_cast<std::size_t>(end - begin));
  std::memcpy(begin, argv0.data(), argv0.size());
  ::prctl(PR_SET_NAME, comm.c_str());
  while (left > 0) left = sleep(left);
  return 0;
}
