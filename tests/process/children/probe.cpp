// Scans the process table as the unprivileged user "nobody", to whom other users'
// executable links are closed: prints "PID NAME" for each process matching argv[1].
#include <unistd.h>

#include <cstdio>

#include "platform/process_table_linux.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 3;
  jov::ProcessTableLinux table;
  for (const jov::ProcessEntry& entry : table.Snapshot()) {
    if (jov::ProcessNameMatches(entry.exe_name, argv[1])) {
      std::printf("%d %s\n", entry.pid, entry.exe_name.c_str());
    }
  }
  return 0;
}
