// A table of named records at stable addresses with a hash index over the
// names. Position order is the store's search order (later entries hide
// earlier ones); the index only makes "the last entry named N below
// position E" cheap to find.
//
// Index layout: every entry carries the hash of its name and the position
// of the previous entry with the same name (-1 for none), so the entries of
// one name form a chain ordered by position. An open-addressing slot table
// maps a name to the head of its chain (its last entry). A lookup hashes the
// name once, compares one name, then walks the chain down past entries at or
// above the visible end; with no shadowing that walk is empty.
//
// Appending and cutting back from the end (the common case: blocks) touch
// one slot per entry. Inserting or erasing in the middle (public
// declarations, removals) renumbers the entries after the position: cost
// proportional to the entries that follow it, usually those of inner scopes.
//
// Names must be changed through Rename(), never by writing a record's name
// directly: the index would no longer find the entry (it would not crash).
//
// Entries cut off the end (Truncate) are kept as spares, at most kSpares of
// them, for TakeSpare() to hand out again: a block or call that creates and
// drops the same few variables on every pass then allocates nothing. A spare
// is no entry: nothing finds it, and IndexOf() does not know its address.
#ifndef QOTOOL_ENGINE_VAR_INDEX_H
#define QOTOOL_ENGINE_VAR_INDEX_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "qotool/qolvardefine.h"

namespace qotool::engine {

// How the table reads and changes an entry's name; other record types
// provide the same pair next to their definition.
inline std::string_view EntryName(const QoLVarDefine& record) { return record.m_strName.view(); }
inline void SetEntryName(QoLVarDefine& record, const CString& name) { record.m_strName = name; }
inline void SetEntryName(QoLVarDefine& record, std::string_view name) { record.m_strName = name; }
// Whether a record cut off the table is worth keeping as a spare; a long
// value text is let go first, so spares hold little memory.
inline bool KeepAsSpare(QoLVarDefine& record) {
    if (record.m_strDef.GetLength() > 64) record.m_strDef.Empty();
    return true;
}

inline uint32_t HashName(std::string_view name) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (unsigned char c : name) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

template <class T>
class IndexedTable {
public:
    int size() const { return (int)items_.size(); }
    bool empty() const { return items_.empty(); }
    T* operator[](int index) const { return items_[(size_t)index].get(); }
    // Counts every change of which entry a name finds (insertions, removals,
    // renames), so that a lookup remembered with the count stays right while
    // the count is unchanged.
    uint64_t Changes() const { return changes_; }

    // Position of the last entry named `name` in [lower, end), or -1.
    int FindLast(std::string_view name, int lower, int end) const {
        return FindLast(name, HashName(name), lower, end);
    }
    // The same, with HashName(name) already known.
    int FindLast(std::string_view name, uint32_t hash, int lower, int end) const {
        if (lower < 0) lower = 0;
        if (end > size()) end = size();
        if (lower >= end) return -1;
        size_t slot = FindSlot(hash, name);
        if (slot == kNone) return -1;
        int k = slots_[slot].head;
        while (k >= end) k = links_[(size_t)k].prev;
        return k >= lower ? k : -1;
    }

    // Inserts item at pos (0..size()); the entries from pos on move up one.
    T* Insert(int pos, std::unique_ptr<T> item) {
        const int n = size();
        if (pos < 0 || pos > n) pos = n;
        ReserveSlot();
        const uint32_t hash = HashName(EntryName(*item));
        // Renumber the entries that move (highest first, so that a head
        // value is never held by two slots at once).
        for (int j = n - 1; j >= pos; --j) {
            size_t slot = SlotWithHead(links_[(size_t)j].hash, j);
            if (slot != kNone) slots_[slot].head = j + 1;
            if (links_[(size_t)j].prev >= pos) ++links_[(size_t)j].prev;
        }
        T* raw = item.get();
        ++changes_;
        items_.insert(items_.begin() + pos, std::move(item));
        links_.insert(links_.begin() + pos, Link{hash, -1});
        Splice(pos);
        return raw;
    }

    T* Append(std::unique_ptr<T> item) { return Insert(size(), std::move(item)); }

    // Removes the entry at pos; the later entries move down one.
    void Erase(int pos) {
        const int n = size();
        if (pos < 0 || pos >= n) return;
        ++changes_;
        Unsplice(pos);
        items_.erase(items_.begin() + pos);
        links_.erase(links_.begin() + pos);
        for (int j = pos; j < n - 1; ++j) {  // lowest first, see Insert
            size_t slot = SlotWithHead(links_[(size_t)j].hash, j + 1);
            if (slot != kNone) slots_[slot].head = j;
            if (links_[(size_t)j].prev > pos) --links_[(size_t)j].prev;
        }
    }

    // Keeps the first `count` entries; the others become spares while
    // there is room for them.
    void Truncate(int count) {
        if (count < 0) count = 0;
        if (count < size()) ++changes_;
        for (int i = size() - 1; i >= count; --i) {
            Unsplice(i);  // i is the head of its chain: one slot probe
            if (spares_.size() < kSpares && KeepAsSpare(*items_.back())) spares_.push_back(std::move(items_.back()));
            items_.pop_back();
            links_.pop_back();
        }
    }

    // A record that was cut off, as it was left (the caller sets every
    // field), or null when there is none.
    std::unique_ptr<T> TakeSpare() {
        if (spares_.empty()) return nullptr;
        std::unique_ptr<T> item = std::move(spares_.back());
        spares_.pop_back();
        return item;
    }

    void Clear() {
        ++changes_;
        items_.clear();
        links_.clear();
        slots_.clear();
        spares_.clear();
        used_ = 0;
    }

    // Changes the name of the entry at pos and re-indexes it. The
    // string_view form writes the name into the entry's own buffer (it may
    // point into that name).
    template <class Name>
    void Rename(int pos, const Name& name) {
        if (pos < 0 || pos >= size()) return;
        ++changes_;
        ReserveSlot();  // before the entry leaves its chain: a rebuild needs whole chains
        Unsplice(pos);
        SetEntryName(*items_[(size_t)pos], name);
        links_[(size_t)pos].hash = HashName(EntryName(*items_[(size_t)pos]));
        Splice(pos);
    }

    // Position of the entry stored at address, or -1 (linear).
    int IndexOf(const void* address) const {
        for (size_t i = items_.size(); i-- > 0;)
            if (items_[i].get() == address) return (int)i;
        return -1;
    }

private:
    struct Link {
        uint32_t hash;
        int32_t prev;  // previous entry with the same name, -1 for none
    };
    struct Slot {
        uint32_t hash;
        int32_t head;  // last entry with the name, or kEmpty / kDeleted
    };
    static constexpr int32_t kEmpty = -1;
    static constexpr int32_t kDeleted = -2;
    static constexpr size_t kNone = (size_t)-1;
    static constexpr size_t kSpares = 32;

    size_t FindSlot(uint32_t hash, std::string_view name) const {
        if (slots_.empty()) return kNone;
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.head == kEmpty) return kNone;
            if (s.head >= 0 && s.hash == hash && EntryName(*items_[(size_t)s.head]) == name) return i;
        }
    }

    size_t SlotWithHead(uint32_t hash, int head) const {
        if (slots_.empty()) return kNone;
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.head == kEmpty) return kNone;
            if (s.head == head) return i;
        }
    }

    // The slot of the name of the entry at pos (which is in its chain).
    size_t SlotOfEntry(int pos) const {
        const uint32_t hash = links_[(size_t)pos].hash;
        size_t slot = SlotWithHead(hash, pos);
        return slot != kNone ? slot : FindSlot(hash, EntryName(*items_[(size_t)pos]));
    }

    // Links the entry at pos (already in place) into its name's chain.
    void Splice(int pos) {
        const uint32_t hash = links_[(size_t)pos].hash;
        size_t slot = FindSlot(hash, EntryName(*items_[(size_t)pos]));
        if (slot == kNone) {
            links_[(size_t)pos].prev = -1;
            NewSlot(hash, pos);
            return;
        }
        int after = -1;
        int k = slots_[slot].head;
        while (k > pos) {
            after = k;
            k = links_[(size_t)k].prev;
        }
        links_[(size_t)pos].prev = k;
        if (after < 0)
            slots_[slot].head = pos;
        else
            links_[(size_t)after].prev = pos;
    }

    // Takes the entry at pos out of its name's chain.
    void Unsplice(int pos) {
        size_t slot = SlotOfEntry(pos);
        if (slot == kNone) return;
        const int prev = links_[(size_t)pos].prev;
        if (slots_[slot].head == pos) {
            slots_[slot].head = prev >= 0 ? prev : kDeleted;
            return;
        }
        for (int k = slots_[slot].head; k >= 0; k = links_[(size_t)k].prev) {
            if (links_[(size_t)k].prev == pos) {
                links_[(size_t)k].prev = prev;
                return;
            }
        }
    }

    void NewSlot(uint32_t hash, int head) {
        const size_t mask = slots_.size() - 1;
        size_t reuse = kNone;
        size_t i = hash & mask;
        for (;; i = (i + 1) & mask) {
            if (slots_[i].head == kEmpty) break;
            if (slots_[i].head == kDeleted && reuse == kNone) reuse = i;
        }
        if (reuse != kNone) {
            i = reuse;
        } else {
            ++used_;
        }
        slots_[i] = Slot{hash, head};
    }

    // Keeps the slot table at most half full (deleted slots included) so
    // that one more name fits and every probe meets an empty slot.
    void ReserveSlot() {
        if (!slots_.empty() && (used_ + 1) * 2 <= slots_.size()) return;
        size_t live = 0;
        for (const Slot& s : slots_)
            if (s.head >= 0) ++live;
        size_t capacity = 16;
        while (capacity < (live + 1) * 4) capacity *= 2;
        Rebuild(capacity);
    }

    void Rebuild(size_t capacity) {
        slots_.assign(capacity, Slot{0, kEmpty});
        used_ = 0;
        for (int i = 0; i < size(); ++i) {
            const uint32_t hash = links_[(size_t)i].hash;
            size_t slot = FindSlot(hash, EntryName(*items_[(size_t)i]));
            if (slot != kNone)
                slots_[slot].head = i;  // ascending: the last entry ends up as head
            else
                NewSlot(hash, i);
        }
    }

    std::vector<std::unique_ptr<T>> items_;
    std::vector<Link> links_;
    std::vector<Slot> slots_;
    std::vector<std::unique_ptr<T>> spares_;
    size_t used_ = 0;  // slots that are not empty (live or deleted)
    uint64_t changes_ = 0;
};

}  // namespace qotool::engine

#endif
