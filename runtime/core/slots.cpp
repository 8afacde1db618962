#include "runtime/core/slots.h"

#include <cstring>
#include <limits>

#include "runtime/core/heap.h"

namespace quillgate {

namespace {

bool is_slot_number(const slot_table* table, object_id id) { return id >= 0 && id < table->slot_count; }

bool is_live(const void* object) { return object && *static_cast<const live_marker*>(object) != 0; }

list_node* node_of(void* object) { return static_cast<list_node*>(object) - 1; }

void* object_of(list_node* node) { return node + 1; }

// The dynamic object of this table whose id is `id`, or null. The list is
// walked from the newest object, the one most likely still in use; an id is
// compared, never followed, until it is found.
void* find_dynamic(const slot_table* table, object_id id) {
    for (list_node* node = table->dynamic_head; node; node = node->next) {
        if (reinterpret_cast<object_id>(object_of(node)) == id) return object_of(node);
    }
    return nullptr;
}

// Gives the array room for slot `id` plus the growth step beyond it, so that
// a run of rising slot numbers does not reallocate on every one. On failure
// the table keeps its old array and count.
bool grow_for(slot_table* table, object_id id) {
    // A table made with no initial slots still has to make room for `id`.
    std::int32_t step = table->growth_step > 0 ? table->growth_step : 1;
    if (id > std::numeric_limits<std::int32_t>::max() - step) return false;
    auto count = static_cast<std::int32_t>(id) + step;
    void* grown = heap_realloc_zeroed(table->slots, static_cast<std::size_t>(count) * sizeof(void*));
    if (!grown) return false;
    table->slots = static_cast<void**>(grown);
    table->slot_count = count;
    return true;
}

} // namespace

slot_table* slot_table_create(std::int32_t object_size, std::int32_t initial_count, slot_free_callback callback) {
    // Every object starts with its live marker, so anything smaller could not be told live or not.
    if (object_size < static_cast<std::int32_t>(sizeof(live_marker)) || initial_count < 0) return nullptr;
    auto* table = static_cast<slot_table*>(heap_alloc_zeroed(sizeof(slot_table)));
    if (!table) return nullptr;
    table->slots = static_cast<void**>(heap_alloc_zeroed(static_cast<std::size_t>(initial_count) * sizeof(void*)));
    if (!table->slots) {
        heap_free(table);
        return nullptr;
    }
    table->object_size = object_size;
    table->growth_step = initial_count;
    table->slot_count = initial_count;
    table->free_callback = callback;
    return table;
}

void slot_table_destroy(slot_table* table) {
    if (!table) return;
    for (std::int32_t slot = 0; slot < table->slot_count; ++slot) heap_free(table->slots[slot]);
    list_node* node = table->dynamic_head;
    while (node) {
        list_node* older = node->next;
        heap_free(node);
        node = older;
    }
    heap_free(table->slots);
    heap_free(table);
}

void* slot_acquire(slot_table* table, object_id id) {
    if (!table) return nullptr;
    if (id == new_object) {
        return object_list_push(&table->dynamic_head, sizeof(list_node) + static_cast<std::size_t>(table->object_size));
    }
    if (id < 0) return nullptr;
    if (id >= table->slot_count && !grow_for(table, id)) return nullptr;
    void* block = table->slots[id];
    if (block) {
        // The kind's close operation zeroes a live block through slot_release;
        // a block that is not live is zero already. A table without a close
        // operation still hands out a zeroed block, not the old object.
        if (table->free_callback) table->free_callback(id);
        if (is_live(block)) std::memset(block, 0, static_cast<std::size_t>(table->object_size));
        return block;
    }
    block = heap_alloc_zeroed(static_cast<std::size_t>(table->object_size));
    table->slots[id] = block;
    return block;
}

void* slot_get(slot_table* table, object_id id) {
    if (!table) return nullptr;
    if (is_slot_number(table, id)) {
        void* block = table->slots[id];
        return is_live(block) ? block : nullptr;
    }
    void* object = find_dynamic(table, id);
    return is_live(object) ? object : nullptr;
}

void slot_release(slot_table* table, object_id id) {
    if (!table) return;
    if (is_slot_number(table, id)) {
        if (table->slots[id]) std::memset(table->slots[id], 0, static_cast<std::size_t>(table->object_size));
        return;
    }
    void* object = find_dynamic(table, id);
    if (object) object_list_remove(&table->dynamic_head, object);
}

void slot_free_all(slot_table* table) {
    if (!table || !table->free_callback) return;
    slot_iterate_begin(table);
    object_id id = 0;
    while (slot_iterate_next(table, &id)) table->free_callback(id);
}

void slot_iterate_begin(slot_table* table) {
    if (!table) return;
    table->iteration_position = 0;
    list_node* oldest = table->dynamic_head;
    while (oldest && oldest->next) oldest = oldest->next;
    table->iteration_cursor = oldest;
}

void* slot_iterate_next(slot_table* table, object_id* id) {
    if (!table) return nullptr;
    while (table->iteration_position < table->slot_count) {
        std::int32_t slot = table->iteration_position++;
        void* block = table->slots[slot];
        if (is_live(block)) {
            if (id) *id = slot;
            return block;
        }
    }
    list_node* node = table->iteration_cursor;
    if (!node) return nullptr;
    // Move on before handing the object out: the caller may free its node.
    table->iteration_cursor = node->prev;
    void* object = object_of(node);
    if (id) *id = reinterpret_cast<object_id>(object);
    return object;
}

void* object_list_push(list_node** head, std::size_t node_size) {
    if (!head || node_size < sizeof(list_node)) return nullptr;
    auto* node = static_cast<list_node*>(heap_alloc_zeroed(node_size));
    if (!node) return nullptr;
    node->next = *head;
    node->prev = nullptr;
    if (*head) (*head)->prev = node;
    *head = node;
    return object_of(node);
}

void object_list_remove(list_node** head, void* object) {
    if (!head || !object) return;
    list_node* node = node_of(object);
    if (node == *head) {
        *head = node->next;
        if (*head) (*head)->prev = nullptr;
    } else {
        if (node->prev) node->prev->next = node->next;
        if (node->next) node->next->prev = node->prev;
    }
    heap_free(node);
}

} // namespace quillgate
