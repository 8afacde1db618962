// Rewriting the character data of a loaded tree in place: every attribute
// value and every run of element text or CDATA content, never a name, a
// comment, a processing instruction, the DOCTYPE or the markup.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/core/text.h"
#include "runtime/xml/xml.h"

namespace quillgate {

// Called for one piece of character data. Returns how many changes it made
// (then `replacement` holds the new piece), 0 to keep the piece, or -1 when
// it could not decide (memory short).
using xml_rewrite_piece = long (*)(void* context, const char* bytes, std::size_t size, text* replacement);

// Runs `rewrite` over every piece, document order. An element's text is cut
// at its children, so no piece spans a comment or a child element, and each
// child's preceding_text_length follows its piece. Returns the sum of the
// changes, or -1 when a piece could not be decided or stored: the tree is
// then consistent but only partly rewritten, and must not be saved.
long xml_rewrite_character_data(xml_document* document, xml_rewrite_piece rewrite, void* context);

} // namespace quillgate
