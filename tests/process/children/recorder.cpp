// A stand-in program for the process tests: appends one line telling how it was started,
// "<file name of argv[0]> [arg1][arg2]...", to the file named by JOV_RECORD_FILE (else
// argv[0] + ".calls"), then exits with the code in JOV_RECORD_EXIT (0 when not set).
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  const char* slash = std::strrchr(argv[0], '/');
  std::string line = slash != nullptr ? slash + 1 : argv[0];
  line += ' ';
  for (int i = 1; i < argc; ++i) line += std::string("[") + argv[i] + "]";
  line += '\n';
  const char* file = std::getenv("JOV_RECORD_FILE");
  const std::string path = file != nullptr ? file : std::string(argv[0]) + ".calls";
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 99;
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ::close(fd);
  const char* code = std::getenv("JOV_RECORD_EXIT");
  return !written ? 98 : code != nullptr ? std::atoi(code) : 0;
}
