// Array cells and the process-wide system store.
#include "engine/var_tables.h"

#include "engine/var_store.h"
#include "platform/memory_probe.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>

namespace qotool::engine {

namespace {

uint64_t NextVersion() {
    static std::atomic<uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

VarArray::VarArray(std::string_view arrayName, char cellType)
    : name(arrayName), version_(NextVersion()), cellType_(cellType) {}

VarArray::~VarArray() {
    for (uintptr_t cell : cells_)
        if (cell && !(cell & 1)) reinterpret_cast<QoLVarDefine*>(cell)->~QoLVarDefine();
}

QoLVarDefine* VarArray::NewRecord() const {
    void* place;
    if (!freed_.empty()) {
        place = freed_.back();
        freed_.pop_back();
    } else {
        if (lastUsed_ == lastSize_) {
            const size_t size = lastSize_ ? std::min(lastSize_ * 2, kMaxBlock / sizeof(QoLVarDefine)) : 4;
            blocks_.reserve(blocks_.size() + 1);
            blocks_.emplace_back(new unsigned char[size * sizeof(QoLVarDefine)]);
            const size_t bytes = size * sizeof(QoLVarDefine);
            if (bytes >= ((size_t)64 << 10)) platform::MakePagesPresent(blocks_.back().get(), bytes);
            lastSize_ = size;
            lastUsed_ = 0;
        }
        place = blocks_.back().get() + lastUsed_++ * sizeof(QoLVarDefine);
    }
    QoLVarDefine* record = new (place) QoLVarDefine();
    record->m_cType = cellType_;
    return record;
}

// (A place that cannot be remembered for lack of memory stays unused.)
QoLVarDefine* VarArray::Materialize(uintptr_t& slot) const {
    const int number = (int)(slot >> 1);
    QoLVarDefine* record = NewRecord();
    StoreSmallWhole(record, number);  // a fresh record of a type other than 'P' takes it
    slot = reinterpret_cast<uintptr_t>(record);
    return record;
}

bool VarArray::StoreSmallWholeCell(int row, int column, int number) {
    if (cellType_ == 'P' || number < 0 || number > 255 || row < 0 || row >= rows_ || column < 0 ||
        column >= columns_)
        return false;
    uintptr_t* slot = Slot(row, column);
    if (!slot) {
        Reach(row);
        slot = Slot(row, column);
    }
    if (*slot && !(*slot & 1)) return false;
    *slot = ((uintptr_t)number << 1) | 1;
    return true;
}

void VarArray::DropRecord(uintptr_t cell) {
    if (!cell || (cell & 1)) return;
    QoLVarDefine* record = reinterpret_cast<QoLVarDefine*>(cell);
    record->~QoLVarDefine();
    try {
        freed_.push_back(record);
    } catch (const std::bad_alloc&) {
    }
}

int VarArray::StrideFor(int columns) const {
    int stride = stride_;
    if (columns > stride) {
        stride = stride ? stride : 1;
        while (stride < columns) stride *= 2;
        if (stride > 255) stride = 255;
        if (stride < columns) stride = columns;
    }
    return stride;
}

bool VarArray::GrowFits(int64_t wantedRows, int64_t wantedColumns) const {
    // Checked before narrowing: a row near INT_MAX must not wrap.
    if (wantedRows > (int64_t)kMaxCells || wantedColumns > (int64_t)kMaxCells) return false;
    const int rows = wantedRows < rows_ ? rows_ : (int)wantedRows;
    const int columns = wantedColumns < columns_ ? columns_ : (int)wantedColumns;
    return (size_t)rows * (size_t)StrideFor(columns) <= kMaxCells;
}

void VarArray::Grow(int64_t wantedRows, int64_t wantedColumns) {
    if (!GrowFits(wantedRows, wantedColumns)) throw std::bad_alloc();
    int rows = wantedRows < rows_ ? rows_ : (int)wantedRows;
    int columns = wantedColumns < columns_ ? columns_ : (int)wantedColumns;
    if (rows == rows_ && columns == columns_) return;
    const int stride = StrideFor(columns);
    if (stride != stride_) {
        const int held = WindowRows();
        std::vector<uintptr_t> cells((size_t)held * (size_t)stride);
        for (int r = 0; r < held; ++r)
            for (int c = 0; c < columns_; ++c)
                cells[(size_t)r * (size_t)stride + (size_t)c] = cells_[(size_t)r * (size_t)stride_ + (size_t)c];
        cells_.swap(cells);
        stride_ = stride;
    }
    rows_ = rows;
    columns_ = columns;
    version_ = NextVersion();
}

void VarArray::Reach(int row) {
    const int held = WindowRows();
    if (held == 0) {
        first_ = row;
        cells_.resize((size_t)stride_);
    } else if (row >= first_ + held) {
        cells_.resize((size_t)(row - first_ + 1) * (size_t)stride_);  // capacity grows geometrically
    } else if (row < first_) {
        // Downwards by at least the window's size, so that filling an array
        // from its last row to its first stays linear.
        const int newFirst = std::min(row, std::max(0, first_ - held));
        const size_t extra = (size_t)(first_ - newFirst) * (size_t)stride_;
        const size_t old = cells_.size();
        cells_.resize(old + extra);
        std::move_backward(cells_.begin(), cells_.begin() + (ptrdiff_t)old, cells_.end());
        std::fill(cells_.begin(), cells_.begin() + (ptrdiff_t)extra, 0);
        first_ = newFirst;
    }
}

// (column < stride_: the slot is inside the window exactly when its index
// is below the window's size, which needs no division.)
uintptr_t* VarArray::Slot(int row, int column) {
    if (row < first_) return nullptr;
    const size_t at = (size_t)(row - first_) * (size_t)stride_ + (size_t)column;
    return at < cells_.size() ? &cells_[at] : nullptr;
}

void VarArray::InsertRows(int at, int count) {
    if (count <= 0 || at < 0 || at > rows_) return;
    if (((size_t)rows_ + (size_t)count) * (size_t)stride_ > kMaxCells) throw std::bad_alloc();
    const int held = WindowRows();
    if (held > 0 && at <= first_) {
        first_ += count;
    } else if (held > 0 && at < first_ + held) {
        const size_t from = (size_t)(at - first_) * (size_t)stride_;
        const size_t shift = (size_t)count * (size_t)stride_;
        cells_.resize(cells_.size() + shift);
        std::move_backward(cells_.begin() + (ptrdiff_t)from, cells_.end() - (ptrdiff_t)shift, cells_.end());
        std::fill(cells_.begin() + (ptrdiff_t)from, cells_.begin() + (ptrdiff_t)(from + shift), 0);
    }
    rows_ += count;
    version_ = NextVersion();
}

void VarArray::RemoveRows(int at, int count) {
    if (count <= 0 || at < 0 || at + count > rows_) return;
    const int held = WindowRows();
    const int lo = std::max(at, first_);
    const int hi = std::min(at + count, first_ + held);
    if (lo < hi) {
        const auto begin = cells_.begin() + (ptrdiff_t)(lo - first_) * stride_;
        for (auto it = begin; it != begin + (ptrdiff_t)(hi - lo) * stride_; ++it) DropRecord(*it);
        cells_.erase(begin, begin + (ptrdiff_t)(hi - lo) * stride_);
    }
    if (at < first_) first_ -= std::min(at + count, first_) - at;  // rows removed below the window
    if (cells_.empty()) first_ = 0;
    rows_ -= count;
    version_ = NextVersion();
}

QoLVarDefine* VarArray::Cell(int row, int column) {
    uintptr_t* slot = Slot(row, column);
    if (!slot) {
        Reach(row);
        slot = Slot(row, column);
    }
    if (!*slot) *slot = reinterpret_cast<uintptr_t>(NewRecord());
    return (*slot & 1) ? Materialize(*slot) : reinterpret_cast<QoLVarDefine*>(*slot);
}

bool VarArray::Holds(const void* address) const {
    if (reinterpret_cast<uintptr_t>(address) & 1) return false;  // never a record, maybe a held number
    for (uintptr_t cell : cells_)
        if (cell == reinterpret_cast<uintptr_t>(address)) return true;
    return false;
}

bool VarTables::Holds(const void* address) const {
    if (!address) return false;
    if (variables.IndexOf(address) >= 0) return true;
    for (int i = arrays.size() - 1; i >= 0; --i)
        if (arrays[i]->Holds(address)) return true;
    return false;
}

namespace {

// Whether record is one of the entries of variables named name.
bool IsVariableNamed(const IndexedTable<QoLVarDefine>& variables, std::string_view name, const void* record) {
    for (int end = variables.size(), k; (k = variables.FindLast(name, 0, end)) >= 0; end = k)
        if (variables[k] == record) return true;
    return false;
}

}  // namespace

bool TextBlocks::Add(const VarTables& tables, const QoLVarDefine* record, size_t size) {
    Block block{size, record, record->m_strName, false};
    if (!IsVariableNamed(tables.variables, block.name.view(), record)) {
        block.name.Empty();
        block.cell = true;
        if (!tables.Holds(record)) return false;
    }
    const uintptr_t start = (uintptr_t)record->m_strDef.c_str();
    // Dead blocks over the same bytes go: the memory has a new owner.
    auto it = blocks_.upper_bound(start);
    if (it != blocks_.begin() && std::prev(it)->first + std::prev(it)->second.size > start) --it;
    while (it != blocks_.end() && (it->first < start + size || it->first == start)) it = blocks_.erase(it);
    if (blocks_.size() >= sweepAt_) {
        for (auto b = blocks_.begin(); b != blocks_.end();)
            b = Live(tables, b->first, b->second) ? std::next(b) : blocks_.erase(b);
        sweepAt_ = blocks_.size() * 2 + 32;
    }
    blocks_.emplace(start, std::move(block));
    return true;
}

int64_t TextBlocks::Room(const VarTables& tables, uintptr_t address) const {
    auto it = blocks_.upper_bound(address);
    if (it == blocks_.begin()) return -1;
    --it;
    const uintptr_t start = it->first;
    if (address - start > it->second.size || !Live(tables, start, it->second)) return -1;
    return (int64_t)(it->second.size - (address - start));
}

bool TextBlocks::Live(const VarTables& tables, uintptr_t start, const Block& block) const {
    const bool entry =
        block.cell ? tables.Holds(block.owner) : IsVariableNamed(tables.variables, block.name.view(), block.owner);
    if (!entry) return false;
    const CString& text = block.owner->m_strDef;
    return (uintptr_t)text.c_str() == start && (size_t)text.GetLength() >= block.size;
}

// The system_ store and its lock are never destroyed: timer threads may
// still write it while the process exits.
VarTables& SystemTables() {
    static VarTables* tables = new VarTables();
    return *tables;
}

std::recursive_mutex& SystemStoreMutex() {
    static std::recursive_mutex* mutex = new std::recursive_mutex();
    return *mutex;
}

}  // namespace qotool::engine
