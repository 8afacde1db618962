// Numbered object slots: each kind of runtime object (files, XML documents)
// lives in a slot table of its own, named by a slot number of the caller's
// choosing or, for a dynamic object, by its own address.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillgate {

// A slot number (0 upward), or the address of a dynamic object.
using object_id = std::intptr_t;

// The two meanings of -1, one name each: an open given `new_object` makes a
// dynamic object; a close given `all_objects` closes every object of its kind.
constexpr object_id new_object = -1;
constexpr object_id all_objects = -1;

// The kind's close operation; its result, if any, is ignored.
using slot_free_callback = void (*)(object_id id);

// The links in front of every dynamic object.
struct list_node {
    list_node* next; // the next older node
    list_node* prev; // the next newer node
};

struct slot_table {
    std::int32_t object_size;
    std::int32_t growth_step;
    std::int32_t slot_count;
    void** slots;
    list_node* dynamic_head;
    slot_free_callback free_callback;
    std::int32_t iteration_position;
    list_node* iteration_cursor;
};

// The first field of every object: non-zero while the object is live.
using live_marker = std::intptr_t;

slot_table* slot_table_create(std::int32_t object_size, std::int32_t initial_count, slot_free_callback callback);
// Frees the table, its blocks and its dynamic nodes without calling the free
// callback; for tables that do not live until the heap goes.
void slot_table_destroy(slot_table* table);
// A zeroed, not yet live object; for `new_object` the object's address is its
// id. Null when memory cannot be had, or for any other negative id.
void* slot_acquire(slot_table* table, object_id id);
// The live object `id` names, or null. An id that is neither a slot number
// below the slot count nor one of this table's dynamic objects names nothing:
// it is never taken as an address before it is found in the table's list, so
// a released object's id or another kind's id is refused, not read.
void* slot_get(slot_table* table, object_id id);
// Zeroes a numbered slot's block, or unlinks and frees a dynamic object of
// this table; an id that names neither is ignored.
void slot_release(slot_table* table, object_id id);
void slot_free_all(slot_table* table);
void slot_iterate_begin(slot_table* table);
void* slot_iterate_next(slot_table* table, object_id* id);
void* object_list_push(list_node** head, std::size_t node_size);
void object_list_remove(list_node** head, void* object);

} // namespace quillgate
