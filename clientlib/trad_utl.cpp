#include "clientlib/trad_utl.h"

namespace Trad_utl {

void Trad(QWidget* /*form*/) {}

}  // namespace Trad_utl
