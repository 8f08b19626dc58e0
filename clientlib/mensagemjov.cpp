#include "clientlib/mensagemjov.h"

#ifndef JOV_VERSION
#define JOV_VERSION "0.0.0"
#endif

namespace Mensagemjov {

std::string MontaRodapeGeral(bool /*detailed*/, const std::string& screen_code,
                             const std::string& /*flag*/) {
  return screen_code + " - v" JOV_VERSION;
}

bool Mensagem(jov::Dialogs& dialogs, const std::string& text, const std::string& /*title*/,
              const std::string& /*flag*/, const std::string& ask, TTipoMsg kind,
              const std::string& /*extra1*/, const std::string& /*extra2*/, int /*number*/,
              void* /*dataset*/) {
  if (kind == tmPergunta && ask == "S") return dialogs.Confirm(text);
  dialogs.Notify(text, kind);
  return true;
}

TMensagem MensagemCom(jov::Dialogs& dialogs) {
  return [&dialogs](const std::string& text, const std::string& title, const std::string& flag,
                    const std::string& ask, TTipoMsg kind, const std::string& extra1,
                    const std::string& extra2, int number, void* dataset) {
    return Mensagem(dialogs, text, title, flag, ask, kind, extra1, extra2, number, dataset);
  };
}

}  // namespace Mensagemjov
