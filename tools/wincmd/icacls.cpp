// icacls PATH...: each path's access list in the form a Brazilian-Portuguese Windows prints,
// made from the owner, group and other permission bits ("Todos" is everyone else).
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/cp1252.h"
#include "tools/wincmd/tools.h"

namespace wincmd {
namespace {

void Out(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fwrite("\r\n", 1, 2, stdout);
}

// icacls' simple rights for one rwx triple; empty when it grants nothing.
std::string Rights(unsigned bits) {
  switch (bits & 7u) {
    case 7:
      return "(F)";
    case 6:
      return "(M)";
    case 5:
      return "(RX)";
    case 4:
      return "(R)";
    case 3:
      return "(W,X)";
    case 2:
      return "(W)";
    case 1:
      return "(X)";
    default:
      return {};
  }
}

std::string UserName(uid_t uid) {
  const passwd* entry = getpwuid(uid);
  return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* entry = getgrgid(gid);
  return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

}  // namespace

int Icacls(int argc, char** argv) {
  if (argc < 1) {
    Out("Uso: icacls nome_do_arquivo");
    return 1;
  }
  int done = 0;
  int failed = 0;
  for (int i = 0; i < argc; ++i) {
    const std::string path = argv[i];
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
      Out(path + ": O sistema não pode encontrar o arquivo especificado."_w);
      ++failed;
      continue;
    }
    const std::string inherit = S_ISDIR(st.st_mode) ? "(OI)(CI)" : "";
    std::vector<std::string> entries;
    const std::pair<std::string, unsigned> holders[] = {
        {UserName(st.st_uid), (st.st_mode >> 6) & 7u},
        {GroupName(st.st_gid), (st.st_mode >> 3) & 7u},
        {"Todos", st.st_mode & 7u},
    };
    for (const auto& [name, bits] : holders) {
      const std::string rights = Rights(bits);
      if (!rights.empty()) entries.push_back(name + ":" + inherit + rights);
    }
    // Later entries stand under the first, as icacls aligns them after the path.
    const std::string indent(path.size() + 1, ' ');
    for (std::size_t k = 0; k < entries.size(); ++k) {
      Out((k == 0 ? path + " " : indent) + entries[k]);
    }
    if (entries.empty()) Out(path + " ");
    Out("");
    ++done;
  }
  Out("Processados com êxito "_w + std::to_string(done) + " arquivos; falha no processamento de " +
      std::to_string(failed) + " arquivos");
  std::fflush(stdout);
  return failed > 0 ? 2 : 0;
}

}  // namespace wincmd
