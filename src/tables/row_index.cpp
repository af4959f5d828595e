// qoArrayIndex: a hash index over row texts with one signature byte per row.
//
// A lookup hashes the text once and scans the signature bytes of one bucket's
// segment; texts are compared only on a signature hit, so a find costs about
// one byte comparison per row of the same bucket plus one text comparison per
// equal signature. Segments keep their entries in ascending row order and
// grow by 32 slots when a refresh finds no spare zero byte.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "qotool/array_index.h"
#include "tables/row_hash.h"

using qotool::tables::IntResults;
using qotool::tables::KeyOf;
using qotool::tables::RowKey;

namespace {

constexpr int kBuckets = 256;
constexpr int kHeaderInts = kBuckets + 1;  // segment starts, then the total
constexpr int kSegmentGrowth = 32;
constexpr int kSpareRows = 127;            // own row table grows with this room
// Most rows one index takes: its buffers stay within the int sizes of CString.
constexpr int kMaxRows = (0x7FFFFFFF - 8192) / 8;

bool SameText(const char* a, const char* b) { return std::strcmp(a ? a : "", b ? b : "") == 0; }

// Number of entries at the head of a segment (bytes before its first zero).
int EntryCount(const char* sign, int start, int end) {
    int n = 0;
    while (start + n < end && sign[start + n]) ++n;
    return n;
}

}  // namespace

qoArrayIndex::qoArrayIndex()
    : m_nRows(0), m_pRows(nullptr), m_pSign(nullptr), m_pBucket(nullptr) {}

qoArrayIndex::qoArrayIndex(const qoArrayIndex& other) : qoArrayIndex() { *this = other; }

qoArrayIndex& qoArrayIndex::operator=(const qoArrayIndex& other) {
    if (this == &other) return *this;
    const bool ownRows = other.m_pRows && other.m_pRows == reinterpret_cast<const char**>(
                                                             const_cast<char*>(other.m_strRows.c_str()));
    m_nRows = other.m_nRows;
    // Each object changes only buffers of its own: the contents are copied
    // here, not shared.
    m_strRows = CString(other.m_strRows.c_str(), other.m_strRows.GetLength());
    m_strSign = CString(other.m_strSign.c_str(), other.m_strSign.GetLength());
    m_strTable = CString(other.m_strTable.c_str(), other.m_strTable.GetLength());
    m_strFind = CString(other.m_strFind.c_str(), other.m_strFind.GetLength());
    m_strDistinct = CString(other.m_strDistinct.c_str(), other.m_strDistinct.GetLength());
    m_pRows = ownRows ? reinterpret_cast<const char**>(m_strRows.GetBuffer(m_strRows.GetLength())) : other.m_pRows;
    m_pSign = other.m_pSign ? m_strSign.GetBuffer(m_strSign.GetLength()) : nullptr;
    m_pBucket = other.m_pBucket ? reinterpret_cast<int*>(m_strTable.GetBuffer(m_strTable.GetLength())) : nullptr;
    return *this;
}

qoArrayIndex::~qoArrayIndex() = default;

const char** qoArrayIndex::SetWorkArea(int count, const char** rows) {
    try {
        if (count < 0 || count > kMaxRows) count = 0;
        m_strSign.Empty();
        m_strTable.Empty();
        m_pSign = nullptr;
        m_pBucket = nullptr;
        m_nRows = count;
        if (rows) {
            m_strRows.Empty();
            m_pRows = rows;
        } else {
            m_strRows.Empty();
            m_pRows = reinterpret_cast<const char**>(m_strRows.GetBufferSetLength(count * (int)sizeof(char*)));
        }
    } catch (...) {
        m_nRows = 0;
        m_pRows = nullptr;
    }
    return m_pRows;
}

const char** qoArrayIndex::GetWorkArea(int& count) {
    count = m_nRows;
    return m_pRows;
}

void qoArrayIndex::SetIndex(int n) {
    try {
        const int m = std::max(0, std::min(n, m_pRows ? m_nRows : 0));
        if (m > kMaxRows) throw std::bad_alloc();
        m_strSign.Empty();
        m_strTable.Empty();
        m_pSign = m_strSign.GetBufferSetLength(m + kBuckets);
        m_pBucket = reinterpret_cast<int*>(m_strTable.GetBufferSetLength(4 * m + 4 * kHeaderInts + 4 * kBuckets));
        std::vector<RowKey> keys((size_t)m);
        int counts[kBuckets] = {};
        for (int r = 0; r < m; ++r) {
            keys[(size_t)r] = KeyOf(m_pRows[r]);
            ++counts[keys[(size_t)r].bucket];
        }
        int next[kBuckets];
        int start = 0;
        for (int b = 0; b < kBuckets; ++b) {
            m_pBucket[b] = start;
            next[b] = start;
            start += counts[b] + 1;
        }
        m_pBucket[kBuckets] = start;
        int* rowNumbers = m_pBucket + kHeaderInts;
        for (int r = 0; r < m; ++r) {
            const int pos = next[keys[(size_t)r].bucket]++;
            m_pSign[pos] = (char)keys[(size_t)r].signature;
            rowNumbers[pos] = r;
        }
    } catch (...) {
        m_strSign.Empty();
        m_strTable.Empty();
        m_pSign = nullptr;
        m_pBucket = nullptr;
    }
}

int qoArrayIndex::RefreshRow(int row, const char* text) {
    if (!m_pSign || !m_pBucket) return -1;
    try {
        int* rowNumbers = m_pBucket + kHeaderInts;
        const RowKey key = KeyOf(text);
        if (row < 0 || row >= m_nRows || !m_pRows) {
            if (m_nRows >= kMaxRows || m_pBucket[kBuckets] >= kMaxRows) return -1;
            // Appended: the row table grows, keeping every pointer it holds.
            const bool own = m_pRows == reinterpret_cast<const char**>(const_cast<char*>(m_strRows.c_str()));
            const int capacity = own ? m_strRows.GetLength() / (int)sizeof(char*) : 0;
            if (m_nRows + 1 > capacity) {
                CString grown;
                char* p = grown.GetBufferSetLength((m_nRows + 1 + kSpareRows) * (int)sizeof(char*));
                if (m_nRows > 0 && m_pRows) std::memcpy(p, m_pRows, (size_t)m_nRows * sizeof(char*));
                m_strRows = grown;
                m_pRows = reinterpret_cast<const char**>(m_strRows.GetBuffer(m_strRows.GetLength()));
            }
            row = m_nRows++;
        } else {
            const RowKey old = KeyOf(m_pRows[row]);
            const int start = m_pBucket[old.bucket];
            const int end = m_pBucket[old.bucket + 1];
            int pos = start;
            while (pos < end && m_pSign[pos] && !((unsigned char)m_pSign[pos] == old.signature && rowNumbers[pos] == row))
                ++pos;
            if (pos >= end || !m_pSign[pos]) return -1;
            if (key.bucket == old.bucket) {
                m_pSign[pos] = (char)key.signature;
                m_pRows[row] = text;
                return row;
            }
            // Out of the old segment: the entries after it move one place left.
            const int last = start + EntryCount(m_pSign, start, end) - 1;
            std::memmove(m_pSign + pos, m_pSign + pos + 1, (size_t)(last - pos));
            std::memmove(rowNumbers + pos, rowNumbers + pos + 1, (size_t)(last - pos) * sizeof(int));
            m_pSign[last] = 0;
            rowNumbers[last] = 0;
        }
        m_pRows[row] = text;
        int start = m_pBucket[key.bucket];
        int end = m_pBucket[key.bucket + 1];
        int entries = EntryCount(m_pSign, start, end);
        if (end - start - entries < 2) {
            // No spare zero byte: 32 more slots at the segment's end.
            const int total = m_pBucket[kBuckets];
            m_pSign = m_strSign.GetBufferSetLength(total + kSegmentGrowth);
            std::memmove(m_pSign + end + kSegmentGrowth, m_pSign + end, (size_t)(total - end));
            std::memset(m_pSign + end, 0, kSegmentGrowth);
            m_pBucket = reinterpret_cast<int*>(
                m_strTable.GetBufferSetLength((kHeaderInts + total + kSegmentGrowth) * (int)sizeof(int)));
            rowNumbers = m_pBucket + kHeaderInts;
            std::memmove(rowNumbers + end + kSegmentGrowth, rowNumbers + end, (size_t)(total - end) * sizeof(int));
            std::memset(rowNumbers + end, 0, kSegmentGrowth * sizeof(int));
            for (int b = key.bucket + 1; b <= kBuckets; ++b) m_pBucket[b] += kSegmentGrowth;
            end += kSegmentGrowth;
        }
        int pos = start;
        while (pos < start + entries && rowNumbers[pos] < row) ++pos;
        const int after = start + entries - pos;
        std::memmove(m_pSign + pos + 1, m_pSign + pos, (size_t)after);
        std::memmove(rowNumbers + pos + 1, rowNumbers + pos, (size_t)after * sizeof(int));
        m_pSign[pos] = (char)key.signature;
        rowNumbers[pos] = row;
        return row;
    } catch (...) {
        return -1;
    }
}

int* qoArrayIndex::FindRow(const char* text, int maximum, bool consume) {
    try {
        IntResults found(m_strFind);
        if (m_pSign && m_pBucket && m_pRows) {
            const RowKey key = KeyOf(text);
            const int* rowNumbers = m_pBucket + kHeaderInts;
            // Past a segment's entries its bytes are zero, never a
            // signature: the whole segment can be searched for the byte.
            const char* p = m_pSign + m_pBucket[key.bucket];
            const char* const end = m_pSign + m_pBucket[key.bucket + 1];
            while ((p = static_cast<const char*>(std::memchr(p, key.signature, (size_t)(end - p)))) != nullptr) {
                const int pos = (int)(p++ - m_pSign);
                const int row = rowNumbers[pos];
                if (row < 0 || row >= m_nRows || !SameText(m_pRows[row], text)) continue;
                found.Add(row);
                if (consume) m_pSign[pos] = 1;
                if (maximum > 0 && found.Count() >= maximum) break;
            }
        }
        return found.Result();
    } catch (...) {
        static int none[1] = {0};
        none[0] = 0;
        return none;
    }
}

const char* qoArrayIndex::DistinctRow() {
    try {
        char* marks = m_strDistinct.GetBufferSetLength(m_nRows);
        std::memset(marks, '0', (size_t)m_nRows);
        if (!m_pSign || !m_pBucket || !m_pRows) return marks;
        const int* rowNumbers = m_pBucket + kHeaderInts;
        // Within a bucket, only entries with equal signatures can have equal
        // texts: each signature's entries are compared among themselves, in
        // row order, so the first row of every distinct text gets the mark.
        std::vector<int> order;
        std::vector<char> seen;
        for (int b = 0; b < kBuckets; ++b) {
            const int start = m_pBucket[b];
            const int entries = EntryCount(m_pSign, start, m_pBucket[b + 1]);
            if (!entries) continue;
            order.resize((size_t)entries);
            for (int i = 0; i < entries; ++i) order[(size_t)i] = start + i;
            std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
                return (unsigned char)m_pSign[x] < (unsigned char)m_pSign[y];
            });
            seen.assign((size_t)entries, 0);
            for (int i = 0; i < entries; ++i) {
                if (seen[(size_t)i]) continue;
                const int pos = order[(size_t)i];
                const int row = rowNumbers[pos];
                if (row < 0 || row >= m_nRows) continue;
                marks[row] = '1';
                for (int j = i + 1; j < entries && m_pSign[order[(size_t)j]] == m_pSign[pos]; ++j) {
                    const int other = rowNumbers[order[(size_t)j]];
                    if (!seen[(size_t)j] && other >= 0 && other < m_nRows && SameText(m_pRows[other], m_pRows[row]))
                        seen[(size_t)j] = 1;
                }
            }
        }
        return marks;
    } catch (...) {
        return "";
    }
}

void qoArrayIndex::ReleaseResultBuffer() {
    m_strFind.Empty();
    m_strDistinct.Empty();
}
