// Mensagemjov: the client library's messages and screen footers.
#pragma once

#include <functional>
#include <string>

#include "platform/dialogs.h"

namespace Mensagemjov {

// Message kinds: 0 refusal, 1 question, 3 notice.
enum TTipoMsg : int { tmRecusa = 0, tmPergunta = 1, tmAviso = 3 };

// The footer text for a screen code: the code and the product version.
std::string MontaRodapeGeral(bool detailed, const std::string& screen_code,
                             const std::string& flag);

// Shows the text modally. A question (kind 1 with ask "S") returns true for Yes; any other
// message is acknowledged and returns true.
bool Mensagem(jov::Dialogs& dialogs, const std::string& text, const std::string& title,
              const std::string& flag, const std::string& ask, TTipoMsg kind,
              const std::string& extra1, const std::string& extra2, int number, void* dataset);

// Mensagem with its dialogs already given: what the launcher's operations call, so that a
// test can see every argument a message is shown with.
using TMensagem =
    std::function<bool(const std::string& text, const std::string& title, const std::string& flag,
                       const std::string& ask, TTipoMsg kind, const std::string& extra1,
                       const std::string& extra2, int number, void* dataset)>;
TMensagem MensagemCom(jov::Dialogs& dialogs);

}  // namespace Mensagemjov
