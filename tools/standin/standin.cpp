// The demo register's sibling programs: one program copied under each sibling's name
// ("JovTab.exe", "JovBpl.exe", "Altera_Permissoes_Calvora.EXE"...). Each appends to the log
// named by JOV_STANDIN_LOG (else "standins.log" beside the program) one line
// "<time> <name> [arg1][arg2]..."; "JovTab.exe" then pretends to refresh the tables for
// JOV_STANDIN_SECONDS seconds (default 4) and logs when it is done. Exits 0, or 1 when the log
// cannot be written.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

namespace {

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string Folder(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? std::string(".") : std::string(path, slash);
}

bool Log(const std::string& path, const std::string& line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const std::string text = Now() + " " + line + "\n";
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return written;
}

bool SameName(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && ::strncasecmp(a.c_str(), b, a.size()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* slash = std::strrchr(argv[0], '/');
  const std::string name = slash != nullptr ? slash + 1 : argv[0];
  const char* log_env = std::getenv("JOV_STANDIN_LOG");
  const std::string log = log_env != nullptr ? log_env : Folder(argv[0]) + "/standins.log";
  std::string line = name;
  for (int i = 1; i < argc; ++i) line += std::string(i == 1 ? " [" : "[") + argv[i] + "]";
  if (!Log(log, line)) return 1;
  if (SameName(name, "JovTab.exe")) {
    const char* seconds = std::getenv("JOV_STANDIN_SECONDS");
    const int wait = seconds != nullptr ? std::atoi(seconds) : 4;
    std::this_thread::sleep_for(std::chrono::seconds(wait > 0 && wait < 3600 ? wait : 4));
    if (!Log(log, name + " tables refreshed")) return 1;
  }
  return 0;
}
