// The launcher package's exported entry points.
#pragma once

extern "C" {
// Shows the launcher and returns when it is closed. Exceptions reach the host.
void IniProc();
// Shows the launcher modally; true once the form is closed and freed.
bool EscolheSistema();
}
