// Replays fuzz inputs without libFuzzer: every regular file under the arguments (folders are
// walked, in name order) goes once through LLVMFuzzerTestOneInput. A target's own check ends
// the process (abort); no input at all, or one that cannot be read, fails with exit code 1.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const fs::path& argument) {
  std::vector<fs::path> files;
  std::error_code error;
  if (fs::is_directory(argument, error)) {
    for (const auto& entry : fs::recursive_directory_iterator(argument, error)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
  } else if (fs::is_regular_file(argument, error)) {
    files.push_back(argument);
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& file : Inputs(argv[i])) {
      std::ifstream in(file, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      if (in.bad()) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
      }
      std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size());
      std::fflush(stdout);  // the last line names the input when a check aborts
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++replayed;
    }
  }
  if (replayed == 0) {
    std::fprintf(stderr, "no input under the given paths\n");
    return 1;
  }
  std::printf("%d inputs replayed\n", replayed);
  return 0;
}
