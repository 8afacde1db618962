// Rewriting the character data of a loaded tree in place: every attribute
// value and every run of element text or CDATA content, never a name, a
// comment, a processing instruction, the DOCTYPE or the markup.
#pragma once

#include <string_view>

#include "runtime/core/text.h"
#include "runtime/xml/xml.h"

namespace quillgate {

// Called for one piece of character data. False when it could not decide
// (memory short). Otherwise true, with `changes` the number of changes it
// made (then `replacement` holds the new piece), or 0 to keep the piece.
using xml_rewrite_piece = bool (*)(void* context, std::string_view piece, text* replacement, long* changes);

// Runs `rewrite` over every piece, document order. An element's text is cut
// at its children, so no piece spans a comment or a child element, and each
// child's preceding_text_length follows its piece. True with `changes` the
// sum of the changes; false when a piece could not be decided or stored: the
// tree is then consistent but only partly rewritten, and must not be saved.
bool xml_rewrite_character_data(xml_document* document, xml_rewrite_piece rewrite, void* context, long* changes);

} // namespace quillgate
