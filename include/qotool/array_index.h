// Row index and code table: two small classes for hosts that keep tables of
// text rows in memory. All texts are GBK byte strings; a null row or text
// counts as the empty text. Neither class throws or reports errors through
// the interpreter: failures are the documented return values, and
// qoArraycCode::SetArrayCode shows a message box for a position out of range.
// An object is used by one thread at a time.
//
// Row hash: the text read as 16-bit little-endian words (first byte low),
// summed modulo 2^16, ending after the first word whose high byte is zero
// (or before a word whose first byte is zero). The low byte of the sum is
// the bucket (0..255); the high byte is the signature, moved up by 2 when it
// is 0 or 1, so that a signature is never 0 (a segment terminator) nor 1
// (the mark of a consumed row).
#ifndef QOTOOL_ARRAY_INDEX_H
#define QOTOOL_ARRAY_INDEX_H

// C++ only: from C this header declares nothing.
#ifdef __cplusplus

#include "qotool/cstring.h"
#include "qotool/qo_api.h"

// A hash index over an array of row texts. The index keeps pointers to the
// rows, never copies: a row must stay valid (and unchanged, unless it is
// re-announced with RefreshRow) while it is indexed.
//
// Buffers (all CString): the signature buffer holds 256 segments, one per
// bucket in bucket order, each the signature bytes of that bucket's rows in
// ascending row order followed by at least one zero byte; the table buffer
// holds 257 ints (the start of each segment, then the total length) and one
// row number per signature byte at the same position. The pointers that
// FindRow, DistinctRow and GetWorkArea return stay valid until the next call
// that resizes the same buffer.
class QO_API qoArrayIndex {
public:
    qoArrayIndex();
    // A copy shares the caller's row array (when the source uses one) and
    // starts with the same index, held in buffers of its own.
    qoArrayIndex(const qoArrayIndex& other);
    qoArrayIndex& operator=(const qoArrayIndex& other);
    ~qoArrayIndex();

    // Sets the rows: count row pointers at rows, or, when rows is null, a
    // table of count null pointers owned by this object for the caller to
    // fill. Clears the index. Returns the row table.
    const char** SetWorkArea(int count, const char** rows);
    // The row table and, in count, its number of rows.
    const char** GetWorkArea(int& count);
    // Builds the index over the first min(n, row count) rows. Consumed marks
    // of an earlier index are gone afterwards.
    void SetIndex(int n);
    // Row `row` now holds text: its entry moves to the bucket of the new
    // text. A row outside 0..count-1 is appended (its number is the old row
    // count). Returns the row number, or -1 when the index holds no entry
    // for the row (a consumed row, a row beyond the indexed ones, or no
    // index at all).
    int RefreshRow(int row, const char* text);
    // The rows equal to text (byte for byte), in ascending order: ints, [0]
    // the count, then the row numbers. maximum > 0 stops after that many;
    // consume marks the rows found so that they are never found again until
    // SetIndex runs.
    int* FindRow(const char* text, int maximum = 0, bool consume = false);
    // One character per row: '1' for the lowest-numbered indexed row of each
    // distinct text, '0' for every other row.
    const char* DistinctRow();
    // Empties the find and distinct results.
    void ReleaseResultBuffer();

private:
    int m_nRows;
    const char** m_pRows;    // the caller's array or m_strRows
    CString m_strRows;       // own row table (pointer-sized entries)
    char* m_pSign;           // into m_strSign
    CString m_strSign;
    int* m_pBucket;          // into m_strTable: 257 starts, then row numbers
    CString m_strTable;
    CString m_strFind;
    CString m_strDistinct;
};

// One 16-bit code per row, kept in a CString that the caller owns (the
// codes followed by a 0 code). Codes never contain a zero byte, so the
// buffer is also a zero-terminated byte string of twice the code count.
class QO_API qoArraycCode {
public:
    qoArraycCode();
    qoArraycCode& operator=(const qoArraycCode& other);

    // The code of a text: the row hash sum, with a zero low byte and a zero
    // high byte each replaced by 1.
    static unsigned short Coder(const char* text);
    // Uses buffer (which must outlive this object's use of it) for count
    // codes; a negative count takes the codes already there (half the
    // buffer's zero-terminated length, rounded up). Returns the codes.
    unsigned short* SetWorkArea(CString& buffer, int count);
    // Opens k slots at position (limited to the count); the opened slots
    // keep their old contents until set. A negative position or k below 1
    // changes nothing. Returns the code count.
    int InsertCode(int position, int k);
    // Removes up to k codes from position. A negative position or k below 1
    // changes nothing; a position at or beyond the count returns -1.
    // Returns the code count.
    int DeleteCode(int position, int k);
    // Stores a code (or the code of text) at position; a position outside
    // 0..count-1 stores nothing and shows "SetArrayCode()超出元素范围".
    void SetArrayCode(unsigned short code, int position);
    void SetArrayCode(const char* text, int position);
    // The positions that hold code, ascending: ints in result, [0] the
    // count, then the positions.
    int* FindRow(unsigned short code, CString& result);
    int* FindRow(const char* text, CString& result);

private:
    int m_nCount;
    CString* m_pBuffer;
    unsigned short* m_pCodes;
};

#endif  // __cplusplus

#endif
