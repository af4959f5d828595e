// What the row index and the code table share: the 16-bit word sum of a
// row text, and result lists of ints kept in a CString.
#ifndef QOTOOL_TABLES_ROW_HASH_H
#define QOTOOL_TABLES_ROW_HASH_H

#include <cstdint>

#include "qotool/cstring.h"

namespace qotool::tables {

// The text read as 16-bit little-endian words, summed modulo 2^16; the sum
// ends after the first word whose high byte is zero, or before a word whose
// first byte is zero. A null text sums to 0.
inline uint16_t RowSum(const char* text) {
    if (!text) return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    uint16_t sum = 0;
    while (p[0]) {
        sum = (uint16_t)(sum + (p[0] | (p[1] << 8)));
        if (!p[1]) break;
        p += 2;
    }
    return sum;
}

// Bucket (the sum's low byte) and signature (its high byte, never 0 or 1).
struct RowKey {
    int bucket;
    unsigned char signature;
};

inline RowKey KeyOf(const char* text) {
    const uint16_t sum = RowSum(text);
    unsigned sign = sum >> 8;
    if (sign < 2) sign += 2;
    return {sum & 0xFF, (unsigned char)sign};
}

// A result list in a CString of ints: [0] the count, then the entries. The
// capacity (in ints) doubles plus two whenever an entry does not fit, so
// the buffer of a list that is reused stops growing.
class IntResults {
public:
    explicit IntResults(CString& buffer) : buffer_(buffer) {
        capacity_ = buffer_.GetLength() / (int)sizeof(int);
        if (capacity_ < 2) Grow();
        data_ = Data();
        data_[0] = 0;
    }
    void Add(int value) {
        if (count_ + 1 >= capacity_) Grow();
        data_[++count_] = value;
        data_[0] = count_;
    }
    int Count() const { return count_; }
    int* Result() { return data_; }

private:
    void Grow() {
        capacity_ = capacity_ * 2 + 2;
        data_ = reinterpret_cast<int*>(buffer_.GetBufferSetLength(capacity_ * (int)sizeof(int)));
    }
    int* Data() { return reinterpret_cast<int*>(buffer_.GetBuffer(buffer_.GetLength())); }

    CString& buffer_;
    int capacity_ = 0;
    int count_ = 0;
    int* data_ = nullptr;
};

}  // namespace qotool::tables

#endif
