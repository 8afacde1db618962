// The names a load has copied to the pool, so that the nodes share one
// copy of each.
#include "runtime/xml/load_state.h"

#include "runtime/core/bytes.h"

namespace quillgate::loader {

namespace {

// Names are told apart by their length and their first and last eight
// bytes (a shorter one by all of them); any that share those only cost a
// longer probe.
std::uint32_t name_hash(const char* name, std::size_t length) {
    std::uint64_t hash = length;
    if (length >= 8) {
        hash ^= load_word(name) * 0x9E3779B97F4A7C15u;
        hash ^= load_word(name + length - 8) * 0xC2B2AE3D27D4EB4Fu;
    } else if (length > 0) {
        hash ^= read_below_8(name, length) * 0x9E3779B97F4A7C15u;
    }
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

using name_entry = xml_load_state::name_entry;

// Whether a[0, n) and b[0, n) hold the same bytes, compared a word at a
// time as name_hash reads them.
bool same_bytes(const char* a, const char* b, std::size_t n) {
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8)
            if (load_word(a + i) != load_word(b + i)) return false;
        return load_word(a + n - 8) == load_word(b + n - 8);
    }
    return n == 0 || read_below_8(a, n) == read_below_8(b, n);
}

// The slot that holds the name in a table of `slots` (a power of two), or
// the empty one where it would go.
name_entry& name_slot(name_entry* table, std::uint32_t slots, const char* name, std::size_t length,
                      std::uint32_t hash) {
    std::uint32_t at = hash & (slots - 1);
    while (table[at].name != nullptr &&
           (table[at].hash != hash || table[at].length != length || !same_bytes(table[at].name, name, length)))
        at = (at + 1) & (slots - 1);
    return table[at];
}

// Room for one more name in the table; false when it cannot grow, and the
// name is then copied on its own.
bool make_name_room(xml_load_state* state) {
    constexpr std::uint32_t largest = 1u << 16;
    if (state->name_count * 2 < state->name_slots) return true;
    if (state->name_slots >= largest) return false;
    std::uint32_t slots = state->name_slots == 0 ? 256 : state->name_slots * 2;
    auto* table = static_cast<name_entry*>(heap_alloc_zeroed(slots * sizeof(name_entry)));
    if (table == nullptr) return false;
    for (std::uint32_t i = 0; i < state->name_slots; ++i) {
        const name_entry& entry = state->names[i];
        if (entry.name != nullptr) name_slot(table, slots, entry.name, entry.length, entry.hash) = entry;
    }
    heap_free(state->names);
    state->names = table;
    state->name_slots = slots;
    return true;
}

} // namespace

char* pool_name(xml_document* document, const char* utf8) {
    xml_load_state* state = document->load_state;
    if (utf8 == nullptr) return nullptr;
    std::size_t length = std::strlen(utf8);
    std::uint32_t hash = name_hash(utf8, length);
    if (state->name_slots > 0) {
        if (char* known = name_slot(state->names, state->name_slots, utf8, length, hash).name) return known;
    }
    bool plain = false;
    char* copy = pool_copy(document, utf8, length, &plain);
    if (copy == nullptr || xml_separately_owned(copy) || !plain || length > UINT32_MAX || !make_name_room(state))
        return copy;
    name_slot(state->names, state->name_slots, copy, length, hash) = {copy, static_cast<std::uint32_t>(length), hash};
    ++state->name_count;
    return copy;
}

} // namespace quillgate::loader
