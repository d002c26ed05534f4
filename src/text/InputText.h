#pragma once
// Domains and seed keywords as the user types them: pieces of a list,
// trimmed, blanks left out, and text that code page 936 cannot hold found
// before anything is requested with it.
#include <string>
#include <vector>

namespace lanshu {

// The text without blanks at both ends: ASCII spaces, ideographic spaces
// (A1 A1) and tabs.
std::string TrimBlanks(const std::string& text);

// The pieces of text between separators (searched by whole characters),
// each trimmed as TrimBlanks does; pieces that are then empty are left out.
std::vector<std::string> NonBlankPieces(const std::string& text, const std::string& separator);

// The first piece of a UTF-16 text (split and trimmed as NonBlankPieces does)
// holding a character that code page 936 cannot write, as GBK with each such
// character shown as "<U+XXXX>"; empty when every piece can be written.
std::string FirstUnwritablePiece(const std::u16string& text, const std::u16string& separator);

}  // namespace lanshu
