// The on-screen keyboard's wiring that the screen needs beyond the form's own methods.
#pragma once

namespace Cli_jov00000 {

class TfrmEscolheSistema;

// Makes physical keys reach the form's key handlers whatever control they are sent to.
void LigaPreviaDeTeclas(TfrmEscolheSistema& form);

}  // namespace Cli_jov00000
