// The variable and array tables of one interpreter (and of the process-wide
// store of "system_" variables). Records live at stable addresses so that
// &name addresses stay valid while the record lives; both tables are
// indexed by name (var_index.h).
//
// Scopes are regions of positions: the interpreter's scope table holds, per
// scope level, the sizes of the two tables at which that level begins, and
// leaving a block cuts both tables back to those sizes (CutBack).
#ifndef QOTOOL_ENGINE_VAR_TABLES_H
#define QOTOOL_ENGINE_VAR_TABLES_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "engine/var_index.h"
#include "qotool/qolvardefine.h"

namespace qotool::engine {

// A two-dimensional array: rows x columns cells (columns <= 255). Cells are
// created on first use and never move; growing the array keeps every cell
// record where it is.
//
// Storage covers only the window of rows from the first to the last row
// that ever had a cell created, so an array whose first assignment is a[n]
// costs one row, not n + 1: a block that assigns a[i] on every pass of a
// loop creates and drops such an array each time. The window grows
// geometrically at either end.
//
// The cell records are carved from blocks the array owns, not allocated one
// by one: each block twice the size of the one before, up to kMaxBlock
// bytes; a large block has its pages made present at once rather than one
// fault at a time. A record removed with its row is destroyed and its place
// taken by the next cell created.
class VarArray {
public:
    // cellType: the type of cells that were never assigned ('Z', or the
    // fixed type of a fixed global array).
    VarArray(std::string_view arrayName, char cellType);
    ~VarArray();
    VarArray(const VarArray&) = delete;
    VarArray& operator=(const VarArray&) = delete;

    int Rows() const { return rows_; }
    int Columns() const { return columns_; }
    // Changes with every change of the rows or columns (growth, insertion,
    // removal) and is never the same for two arrays, even one made where a
    // destroyed one was: an array found again by name with the version
    // remembered is the same array with the same cell records.
    uint64_t Version() const { return version_; }
    // Grows to at least rows x columns; throws std::bad_alloc beyond the
    // store's cell limit (kMaxCells). 64-bit so that row + 1 cannot wrap.
    void Grow(int64_t rows, int64_t columns);
    // Whether Grow(rows, columns) stays within kMaxCells (it then fails only
    // where memory does).
    bool GrowFits(int64_t rows, int64_t columns) const;
    // The cell record (created empty on first use); row and column in range.
    QoLVarDefine* Cell(int row, int column);
    // The cell record if it has been created, else null.
    QoLVarDefine* CellIfCreated(int row, int column) const {
        const uintptr_t* slot = SlotIfCreated(row, column);
        if (!slot || !*slot) return nullptr;
        return (*slot & 1) ? Materialize(*const_cast<uintptr_t*>(slot)) : reinterpret_cast<QoLVarDefine*>(*slot);
    }
    // A cell that holds a whole number from 0 to 255 stored by a compiled
    // form may have no record yet: it reads as the record StoreSmallWhole
    // would have made, which is made when anything asks for the record.
    // The number such a cell holds, or -1 (no cell, or a cell with a record).
    int SmallWholeIfHeld(int row, int column) const {
        const uintptr_t* slot = SlotIfCreated(row, column);
        return slot && (*slot & 1) ? (int)(*slot >> 1) : -1;
    }
    // Whether the cell has a record (not just a number held as above).
    bool HasRecord(int row, int column) const {
        const uintptr_t* slot = SlotIfCreated(row, column);
        return slot && *slot && !(*slot & 1);
    }
    // Stores number (0..255) into a cell that has no record, as Cell() and
    // StoreSmallWhole would, without making the record; false (nothing
    // changed) when the cell has a record or the array's cells are pointers.
    // The array has the row and column already.
    bool StoreSmallWholeCell(int row, int column, int number);
    bool Holds(const void* address) const;
    // Inserts count rows of cells that were never assigned before row `at`
    // (0..Rows()); throws std::bad_alloc beyond kMaxCells.
    void InsertRows(int at, int count);
    // Removes count rows from row `at` (at + count <= Rows()); their cell
    // records are destroyed, the other cells stay where they are.
    void RemoveRows(int at, int count);

    // Data a higher layer keeps beside the array (the rule tables keep their
    // parsed rules here); destroyed with the array.
    struct Attachment {
        virtual ~Attachment() = default;
    };
    std::unique_ptr<Attachment> attachment;

    // Largest number of cell slots (rows x allocated columns) one array may
    // hold: a bigger subscript fails as a storage error instead of
    // exhausting memory.
    static constexpr size_t kMaxCells = (size_t)1 << 26;

    CString name;

private:
    const uintptr_t* SlotIfCreated(int row, int column) const {
        if (row < 0 || row >= rows_ || column < 0 || column >= columns_) return nullptr;
        if (row < first_) return nullptr;
        const size_t at = (size_t)(row - first_) * (size_t)stride_ + (size_t)column;
        return at < cells_.size() ? &cells_[at] : nullptr;
    }
    // The record of a slot holding a number; throws std::bad_alloc.
    QoLVarDefine* Materialize(uintptr_t& slot) const;
    // The slot of a cell inside the window, or null outside it.
    uintptr_t* Slot(int row, int column);
    // A new record of type cellType_ from the blocks; throws std::bad_alloc.
    QoLVarDefine* NewRecord() const;
    void DropRecord(uintptr_t cell);
    // The allocated columns per row a growth to columns needs.
    int StrideFor(int columns) const;
    int WindowRows() const { return stride_ ? (int)(cells_.size() / (size_t)stride_) : 0; }
    // Widens the window to hold row (in 0..rows_-1).
    void Reach(int row);

    int rows_ = 0;
    int columns_ = 0;
    int stride_ = 0;  // allocated columns per row (grows geometrically up to 255)
    int first_ = 0;   // the first row of the window
    uint64_t version_;
    char cellType_;
    // The window's rows x stride_, row after row: 0 for no cell, an owned
    // record's address, or (number << 1) | 1 for a number held without one.
    mutable std::vector<uintptr_t> cells_;

    // Record storage: blocks_ in order of allocation; the last one is used
    // up to lastUsed_ of its lastSize_ records; freed_ holds destroyed
    // records' places.
    static constexpr size_t kMaxBlock = (size_t)2 << 20;
    mutable std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    mutable size_t lastSize_ = 0;
    mutable size_t lastUsed_ = 0;
    mutable std::vector<QoLVarDefine*> freed_;
};

inline std::string_view EntryName(const VarArray& array) { return array.name.view(); }
inline void SetEntryName(VarArray& array, const CString& name) { array.name = name; }
inline void SetEntryName(VarArray& array, std::string_view name) { array.name = name; }
inline bool KeepAsSpare(VarArray&) { return false; }  // cells may be many

struct VarTables;

// The memory blocks of one store's records (MemBuffer): the first `size`
// bytes of a record's text, which "%mem" pointers may reach. A block lives
// while its record is an entry of the store and still holds the text buffer
// that the block starts at (a CString buffer stays put while unmodified): a
// variable removed, reassigned or gone with its scope leaves a dead block,
// which nothing reaches and a later Add sweeps away. Blocks never overlap.
class TextBlocks {
public:
    // Records the block of record's first size bytes; false (nothing
    // recorded) when record is no entry of tables.
    bool Add(const VarTables& tables, const QoLVarDefine* record, size_t size);
    // The bytes from address to the end of the live block that holds it
    // (the block's end itself gives 0); -1 when no live block does.
    int64_t Room(const VarTables& tables, uintptr_t address) const;
    void Clear() { blocks_.clear(); }

private:
    struct Block {
        size_t size;
        const QoLVarDefine* owner;  // dereferenced only once known to be an entry
        CString name;               // the owner's name when it is a variable, else empty
        bool cell;                  // the owner is an array cell
    };
    bool Live(const VarTables& tables, uintptr_t start, const Block& block) const;

    std::map<uintptr_t, Block> blocks_;  // by start address
    size_t sweepAt_ = 32;
};

struct VarTables {
    IndexedTable<QoLVarDefine> variables;
    IndexedTable<VarArray> arrays;
    TextBlocks blocks;

    void Clear() {
        variables.Clear();
        arrays.Clear();
        blocks.Clear();
    }
    // Cuts both tables back to the sizes at which a scope began.
    void CutBack(int variableCount, int arrayCount) {
        variables.Truncate(variableCount);
        arrays.Truncate(arrayCount);
    }
    // True when address is one of the records (variables or array cells).
    bool Holds(const void* address) const;
};

// The process-wide store of "system_" variables (no scopes). Interpreters
// on several threads share it: hold SystemStoreMutex() (recursive, since a
// store operation may call back into the store) for every use.
VarTables& SystemTables();
std::recursive_mutex& SystemStoreMutex();

}  // namespace qotool::engine

#endif
