// Trad_utl: the client library's screen translation hook.
#pragma once

class QWidget;

namespace Trad_utl {

// Translates a form's texts; the registers run in Portuguese, so it changes nothing.
void Trad(QWidget* form);

}  // namespace Trad_utl
