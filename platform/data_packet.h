// The platform's XML data packet (<DATAPACKET Version="2.0">): reading and writing datasets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/dataset_files.h"

namespace jov {

// A packet larger than this is refused before it is read.
inline constexpr std::size_t kMaxDataPacketBytes = 64u << 20;

// Reads a packet; source names it in error messages (a file path, "GetDadosHttp reply").
// Accepts a UTF-8, windows-1252 or ISO-8859-1 encoding (UTF-8 when none is declared),
// whitespace and comments between elements, fields in any order, element, attribute and
// field-type names in any letter case, and RowState. Texts come back in Windows-1252; a
// row holds only the attributes it gives (a field it lacks is NULL by its absence). Throws Error
// naming the source, the cause and the line on anything else; runs in time linear in the input.
Dataset ParseDataPacket(std::string_view xml, const std::string& source);

// Writes the packet as the platform does: no encoding in the prolog, every character above
// 127 in a text as &#NNN; (its Unicode code point), so the text is plain ASCII unless a field
// name holds such a character (a name cannot be escaped; it is written in UTF-8). A field
// without a type is a string. Throws Error for a text holding a NUL character, a field
// defined twice, or a value in a field whose name cannot be an XML attribute's.
std::string WriteDataPacket(const Dataset& data);

}  // namespace jov
