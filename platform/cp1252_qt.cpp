#include <QString>

#include "platform/cp1252.h"

namespace jov::cp1252 {

QString ToQString(std::string_view bytes) {
  const std::string utf8 = ToUtf8(bytes);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQString(const QString& text) { return FromUtf8(text.toStdString()); }

}  // namespace jov::cp1252
