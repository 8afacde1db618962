// Loading, for 8-bit trees: characters the parser decoded from references
// told apart from those the file spells in bytes, so that each is held as
// its document holds it. Private to the loader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/core/text.h"
#include "runtime/xml/xml.h"

namespace quillgate {

// Whether two encoding names are the same in any letter case.
bool xml_same_label(const char* a, const char* b);

// Settles how the tree holds characters once the file's start is known:
// `declared` is the declaration's encoding name (null without one),
// `utf16_file` and `utf8_mark` what the file's first bytes showed. An
// unknown 8-bit set holds only ASCII as bytes.
void xml_choose_held_form(xml_document* document, const char* declared, bool utf16_file, bool utf8_mark);

// What the parser's current event is, as the file spells it: text, a
// character reference (handed over alone, as one character), or an entity
// reference whose replacement text is being reported.
constexpr int XML_EVENT_TEXT = 0;
constexpr int XML_EVENT_CHARACTER_REFERENCE = 1;
constexpr int XML_EVENT_ENTITY = 2;
int xml_event_kind(const xml_document* document);

// The held form of a character `code_point` the parser gave, whose UTF-8
// starts utf8[0, size) and takes *consumed bytes, in an event of the given
// kind (or -1, not looked up). In an entity's replacement text in a UTF-8
// tree, characters up to U+00FF that are bytes of one UTF-8 sequence stay
// those bytes (the file spelt them so; *consumed then covers them all), and
// any other came from a reference. Into `out` (xml_held_max bytes); the count.
int xml_hold_given(const xml_document* document, std::uint32_t code_point, const unsigned char* utf8, std::size_t size,
                   int event, char* out, std::size_t* consumed);

// The held form of the attribute value `utf8` (as the parser gave it), the
// `index`-th of the start tag being reported; false when memory ran short.
bool xml_hold_attribute_value(const xml_document* document, const char* utf8, int index, text* held);

} // namespace quillgate
