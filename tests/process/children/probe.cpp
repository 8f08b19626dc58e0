// Helper for the process tests, run as its own process:
//   proc_probe NAME         scans the process table as the unprivileged user "nobody", to whom
//                           other users' executable links are closed, and prints "PID NAME"
//                           for each process matching NAME, by the name that matched;
//   proc_probe --closed FILE closes its standard streams, captures "echo ok" through RunChild,
//                           tries a missing program, and writes what it got to FILE.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/child_process_linux.h"
#include "platform/process_table_linux.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--closed") == 0) {
    ::close(0);
    ::close(1);
    ::close(2);
    jov::ChildOptions options;
    options.capture_output = true;
    options.timeout_ms = 10000;
    const jov::ChildResult result = jov::RunChild({"/bin/sh", "-c", "echo ok"}, options);
    const jov::ChildResult missing = jov::RunChild({"/nonexistent/program"}, options);
    const std::string report = result.output + "exit " + std::to_string(result.exit_code) +
                               "\nmissing started " + std::to_string(missing.started) + "\n";
    const int fd = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd >= 0 && ::write(fd, report.data(), report.size()) > 0 ? 0 : 1;
  }
  if (argc != 2) return 2;
  if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 3;
  jov::ProcessTableLinux table;
  for (const jov::ProcessEntry& entry : table.Find(argv[1])) {
    if (const std::string* name = jov::MatchingName(entry, argv[1])) {
      std::printf("%d %s\n", entry.pid, name->c_str());
    }
  }
  return 0;
}
