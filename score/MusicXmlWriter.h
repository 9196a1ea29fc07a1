#pragma once

// The one writer: any score model as a MusicXML 4.0 partwise document.

#include <string>
#include <string_view>

#include "ScoreModel.h"
#include "TextBuffer.h"

namespace korvalin {

// Appends the whole document for `score` (UTF-8, CR LF line ends, two spaces
// of indentation per level).
void WriteMusicXml(const TScore& score, TTextBuffer& out);

// The most bytes the document of `score` can take.
std::size_t MusicXmlSizeBound(const TScore& score);

// XML 1.0 cannot carry C0 control characters other than tab, line feed and
// carriage return, nor U+FFFE/U+FFFF, not even as references; bytes that are
// not UTF-8 go the same way. What is left is safe to escape and write.
std::string DropCharactersXmlForbids(std::string_view text);

}  // namespace korvalin
