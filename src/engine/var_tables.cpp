// Array cells and the process-wide system store.
#include "engine/var_tables.h"

#include <algorithm>
#include <new>

namespace qotool::engine {

void VarArray::Grow(int64_t wantedRows, int64_t wantedColumns) {
    // Checked before narrowing: a row near INT_MAX must not wrap.
    if (wantedRows > (int64_t)kMaxCells || wantedColumns > (int64_t)kMaxCells) throw std::bad_alloc();
    int rows = wantedRows < rows_ ? rows_ : (int)wantedRows;
    int columns = wantedColumns < columns_ ? columns_ : (int)wantedColumns;
    if (rows == rows_ && columns == columns_) return;
    int stride = stride_;
    if (columns > stride) {
        stride = stride ? stride : 1;
        while (stride < columns) stride *= 2;
        if (stride > 255) stride = 255;
        if (stride < columns) stride = columns;
    }
    if ((size_t)rows * (size_t)stride > kMaxCells) throw std::bad_alloc();
    if (stride != stride_) {
        std::vector<std::unique_ptr<QoLVarDefine>> cells((size_t)rows * (size_t)stride);
        for (int r = 0; r < rows_; ++r)
            for (int c = 0; c < columns_; ++c)
                cells[(size_t)r * (size_t)stride + (size_t)c] =
                    std::move(cells_[(size_t)r * (size_t)stride_ + (size_t)c]);
        cells_.swap(cells);
        stride_ = stride;
    } else {
        cells_.resize((size_t)rows * (size_t)stride_);
    }
    rows_ = rows;
    columns_ = columns;
}

void VarArray::InsertRows(int at, int count) {
    if (count <= 0 || at < 0 || at > rows_) return;
    if (columns_ == 0) {
        rows_ += count;
        return;
    }
    if (((size_t)rows_ + (size_t)count) * (size_t)stride_ > kMaxCells) throw std::bad_alloc();
    const size_t from = (size_t)at * (size_t)stride_;
    const size_t shift = (size_t)count * (size_t)stride_;
    cells_.resize(cells_.size() + shift);
    std::move_backward(cells_.begin() + (ptrdiff_t)from, cells_.end() - (ptrdiff_t)shift, cells_.end());
    rows_ += count;
}

void VarArray::RemoveRows(int at, int count) {
    if (count <= 0 || at < 0 || at + count > rows_) return;
    const auto first = cells_.begin() + (ptrdiff_t)at * stride_;
    cells_.erase(first, first + (ptrdiff_t)count * stride_);
    rows_ -= count;
}

QoLVarDefine* VarArray::Cell(int row, int column) {
    std::unique_ptr<QoLVarDefine>& cell = cells_[(size_t)row * (size_t)stride_ + (size_t)column];
    if (!cell) {
        cell = std::make_unique<QoLVarDefine>();
        cell->m_cType = cellType_;
    }
    return cell.get();
}

QoLVarDefine* VarArray::CellIfCreated(int row, int column) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= columns_) return nullptr;
    return cells_[(size_t)row * (size_t)stride_ + (size_t)column].get();
}

bool VarArray::Holds(const void* address) const {
    for (const auto& cell : cells_)
        if (cell.get() == address) return true;
    return false;
}

bool VarTables::Holds(const void* address) const {
    if (!address) return false;
    if (variables.IndexOf(address) >= 0) return true;
    for (int i = arrays.size() - 1; i >= 0; --i)
        if (arrays[i]->Holds(address)) return true;
    return false;
}

VarTables& SystemTables() {
    static VarTables tables;
    return tables;
}

std::recursive_mutex& SystemStoreMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace qotool::engine
