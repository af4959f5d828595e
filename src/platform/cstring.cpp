// CString, CStringArray and CObject.
//
// A CString holds one pointer to the text of a heap block laid out as
// [Header][text bytes][0]. Copies share a block (Header::refs counts them);
// every modifying member first makes its block private (MakeUnique), so a
// block nobody modifies never moves. Empty strings point at g_empty, a static
// block that is never freed and whose reference count is never touched.
#include "platform/cstring.h"
#include "platform/memory_probe.h"
#include "platform/string_block.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace {

struct Header {
    uint32_t magic;
    int refs;
    int length;    // bytes in use, embedded zeros included
    int capacity;  // bytes available, the terminator not counted
};

constexpr uint32_t kMagic = 0x51D7C0DEu;

struct EmptyBlock {
    Header header;
    char text[sizeof(Header)];
};

// Constant-initialised, so strings built by other static constructors see it.
EmptyBlock g_empty = {{kMagic, -1, 0, 0}, {}};

static_assert(offsetof(EmptyBlock, text) == sizeof(Header), "empty text must follow its header");

inline Header* HeaderOf(const char* text) {
    return reinterpret_cast<Header*>(const_cast<char*>(text)) - 1;
}

inline char* TextOf(Header* h) { return reinterpret_cast<char*>(h + 1); }

inline bool IsEmptyBlock(const Header* h) { return h == &g_empty.header; }

// True when the block belongs to the caller alone and may be written.
inline bool IsOwned(Header* h) {
    return !IsEmptyBlock(h) && __atomic_load_n(&h->refs, __ATOMIC_ACQUIRE) == 1;
}

int CheckedLength(size_t n) {
    if (n > static_cast<size_t>(INT_MAX)) throw std::length_error("CString: text too long");
    return static_cast<int>(n);
}

// Heap blocks are rounded to 16 bytes; the slack becomes capacity.
size_t BlockBytes(int capacity) {
    return (sizeof(Header) + static_cast<size_t>(capacity) + 1 + 15) & ~static_cast<size_t>(15);
}

int CapacityOf(size_t bytes) {
    size_t cap = bytes - sizeof(Header) - 1;
    return cap > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(cap);
}

Header* NewBlock(int capacity) {
    size_t bytes = BlockBytes(capacity);
    Header* h = static_cast<Header*>(std::malloc(bytes));
    if (!h) throw std::bad_alloc();
    h->magic = kMagic;
    h->refs = 1;
    h->length = 0;
    h->capacity = CapacityOf(bytes);
    return h;
}

// A new block holding a copy of data; the shared empty text when length is 0.
char* NewText(const char* data, int length) {
    if (length <= 0) return g_empty.text;
    Header* h = NewBlock(length);
    char* text = TextOf(h);
    std::memcpy(text, data, static_cast<size_t>(length));
    text[length] = 0;
    h->length = length;
    return text;
}

void FreeBlock(Header* h) noexcept {
    __atomic_store_n(&h->magic, 0u, __ATOMIC_RELAXED);
    std::free(h);
}

int GrowCapacity(int capacity, int needed) {
    long long grown = static_cast<long long>(capacity) + capacity / 2;
    if (grown < needed) grown = needed;
    return grown > INT_MAX ? INT_MAX : static_cast<int>(grown);
}

inline unsigned char AsciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

inline bool IsAsciiSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// True when pos starts a character, given that lo <= pos does. A byte below
// 0x80 always ends a character, so only the run of high bytes right before
// pos needs counting: inside it bytes pair up as lead and trail.
bool IsCharStart(const unsigned char* s, int lo, int pos) {
    int q = pos;
    while (q > lo && s[q - 1] >= 0x80) --q;
    return ((pos - q) & 1) == 0;
}

// First match of needle at or after from that starts a character; lo <= from
// is a known character start.
int FindText(const unsigned char* s, int len, int lo, int from, const char* needle, size_t nlen) {
    while (from < len && static_cast<size_t>(len - from) >= nlen) {
        const void* hit = memmem(s + from, static_cast<size_t>(len - from), needle, nlen);
        if (!hit) return -1;
        int h = static_cast<int>(static_cast<const unsigned char*>(hit) - s);
        if (IsCharStart(s, lo, h)) return h;
        lo = from = h + 1;  // h is a trail byte, so h + 1 starts a character
    }
    return -1;
}

int CompareBytes(const char* a, int an, const char* b, size_t bn) {
    size_t n = static_cast<size_t>(an) < bn ? static_cast<size_t>(an) : bn;
    int r = std::memcmp(a, b, n);
    if (r != 0) return r;
    if (static_cast<size_t>(an) == bn) return 0;
    return static_cast<size_t>(an) < bn ? -1 : 1;
}

// Index of the first ASCII letter in [first, last] outside two-byte
// characters, or len when there is none.
int FindLetter(const unsigned char* s, int from, int len, unsigned char first) {
    for (int i = from; i < len; ++i) {
        unsigned char c = s[i];
        if (c >= 0x80)
            ++i;
        else if (static_cast<unsigned char>(c - first) < 26u)
            return i;
    }
    return len;
}

void ShiftLetters(unsigned char* s, int from, int len, unsigned char first, int delta) {
    for (int i = from; i < len; ++i) {
        unsigned char c = s[i];
        if (c >= 0x80)
            ++i;
        else if (static_cast<unsigned char>(c - first) < 26u)
            s[i] = static_cast<unsigned char>(c + delta);
    }
}

CString Concat(const char* a, int an, const char* b, size_t bn) {
    CString r;
    int n = CheckedLength(static_cast<size_t>(an) + bn);
    if (n == 0) return r;
    char* p = r.GetBuffer(n);
    std::memcpy(p, a, static_cast<size_t>(an));
    std::memcpy(p + an, b, bn);
    r.ReleaseBuffer(n);
    return r;
}

}  // namespace

// ---- construction, assignment ---------------------------------------------

CString::CString() noexcept : m_pchData(g_empty.text) {}

CString::CString(const CString& other) noexcept : m_pchData(other.m_pchData) {
    Header* h = HeaderOf(m_pchData);
    if (!IsEmptyBlock(h)) __atomic_add_fetch(&h->refs, 1, __ATOMIC_RELAXED);
}

CString::CString(CString&& other) noexcept : m_pchData(other.m_pchData) { other.m_pchData = g_empty.text; }

CString::CString(const char* text)
    : m_pchData(text ? NewText(text, CheckedLength(std::strlen(text))) : g_empty.text) {}

CString::CString(const char* data, int length) : m_pchData(data ? NewText(data, length) : g_empty.text) {}

CString::CString(char ch, int repeat) : m_pchData(g_empty.text) {
    if (repeat <= 0) return;
    Header* h = NewBlock(repeat);
    m_pchData = TextOf(h);
    std::memset(m_pchData, ch, static_cast<size_t>(repeat));
    m_pchData[repeat] = 0;
    h->length = repeat;
}

CString::CString(std::string_view text)
    : m_pchData(text.empty() ? g_empty.text : NewText(text.data(), CheckedLength(text.size()))) {}

CString::~CString() { Release(); }

void CString::Release() noexcept {
    Header* h = HeaderOf(m_pchData);
    if (!IsEmptyBlock(h) && __atomic_sub_fetch(&h->refs, 1, __ATOMIC_ACQ_REL) == 0) FreeBlock(h);
}

// Makes the block private with room for at least capacity bytes; the text
// is kept.
void CString::MakeUnique(int capacity) {
    Header* h = HeaderOf(m_pchData);
    if (IsOwned(h)) {
        if (capacity <= h->capacity) return;
        size_t bytes = BlockBytes(capacity);
        Header* grown = static_cast<Header*>(std::realloc(h, bytes));
        if (!grown) throw std::bad_alloc();
        grown->capacity = CapacityOf(bytes);
        m_pchData = TextOf(grown);
        return;
    }
    int length = h->length;
    Header* copy = NewBlock(capacity > length ? capacity : length);
    std::memcpy(TextOf(copy), m_pchData, static_cast<size_t>(length) + 1);
    copy->length = length;
    Release();
    m_pchData = TextOf(copy);
}

// data may point into this string's own text.
void CString::Assign(const char* data, int length) {
    Header* h = HeaderOf(m_pchData);
    if (length < 0) length = 0;
    if (IsOwned(h) && length <= h->capacity) {
        if (length) std::memmove(m_pchData, data, static_cast<size_t>(length));
        m_pchData[length] = 0;
        h->length = length;
        return;
    }
    char* text = NewText(data, length);
    Release();
    m_pchData = text;
}

CString& CString::operator=(const CString& other) noexcept {
    if (m_pchData != other.m_pchData) {
        Header* h = HeaderOf(other.m_pchData);
        if (!IsEmptyBlock(h)) __atomic_add_fetch(&h->refs, 1, __ATOMIC_RELAXED);
        Release();
        m_pchData = other.m_pchData;
    }
    return *this;
}

CString& CString::operator=(CString&& other) noexcept {
    if (this != &other) {
        Release();
        m_pchData = other.m_pchData;
        other.m_pchData = g_empty.text;
    }
    return *this;
}

CString& CString::operator=(const char* text) {
    Assign(text, text ? CheckedLength(std::strlen(text)) : 0);
    return *this;
}

CString& CString::operator=(char ch) {
    Assign(&ch, 1);
    return *this;
}

CString& CString::operator=(std::string_view text) {
    Assign(text.data(), CheckedLength(text.size()));
    return *this;
}

// ---- access ---------------------------------------------------------------

int CString::GetLength() const noexcept { return HeaderOf(m_pchData)->length; }

void CString::Empty() noexcept {
    Release();
    m_pchData = g_empty.text;
}

char CString::GetAt(int index) const {
    return static_cast<unsigned>(index) < static_cast<unsigned>(GetLength()) ? m_pchData[index] : 0;
}

void CString::SetAt(int index, char ch) {
    int length = GetLength();
    if (static_cast<unsigned>(index) >= static_cast<unsigned>(length)) return;
    MakeUnique(length);
    m_pchData[index] = ch;
}

char* CString::GetBuffer(int minLength) {
    int length = GetLength();
    MakeUnique(minLength > length ? minLength : length);
    return m_pchData;
}

// Bytes between the old and the new length are zero.
char* CString::GetBufferSetLength(int length) {
    if (length < 0) length = 0;
    int old = GetLength();
    char* p = GetBuffer(length);
    if (length > old) std::memset(p + old, 0, static_cast<size_t>(length - old));
    p[length] = 0;
    HeaderOf(p)->length = length;
    return p;
}

void CString::ReleaseBuffer(int newLength) {
    if (IsEmptyBlock(HeaderOf(m_pchData))) return;
    MakeUnique(0);
    Header* h = HeaderOf(m_pchData);
    if (newLength < 0)
        newLength = static_cast<int>(strnlen(m_pchData, static_cast<size_t>(h->capacity)));
    else if (newLength > h->capacity)
        newLength = h->capacity;
    m_pchData[newLength] = 0;
    h->length = newLength;
}

void CString::Reserve(int capacity) {
    if (capacity > HeaderOf(m_pchData)->capacity) MakeUnique(capacity);
}

bool CString::IsValid() const noexcept {
    return m_pchData && (reinterpret_cast<uintptr_t>(m_pchData) & 3) == 0 && HeaderOf(m_pchData)->magic == kMagic;
}

// ---- concatenation --------------------------------------------------------

// data may point into this string's own text.
CString& CString::Append(const char* data, int length) {
    if (!data || length <= 0) return *this;
    Header* h = HeaderOf(m_pchData);
    int old = h->length;
    if (length > INT_MAX - old) throw std::length_error("CString: text too long");
    int needed = old + length;
    if (needed > h->capacity || !IsOwned(h)) {
        uintptr_t offset = reinterpret_cast<uintptr_t>(data) - reinterpret_cast<uintptr_t>(m_pchData);
        bool inside = offset < static_cast<uintptr_t>(old);
        MakeUnique(GrowCapacity(h->capacity, needed));
        if (inside) data = m_pchData + offset;
        h = HeaderOf(m_pchData);
    }
    std::memcpy(m_pchData + old, data, static_cast<size_t>(length));
    m_pchData[needed] = 0;
    h->length = needed;
    return *this;
}

CString& CString::operator+=(const CString& text) {
    if (IsEmptyBlock(HeaderOf(m_pchData))) return *this = text;  // share instead of copying
    return Append(text.m_pchData, text.GetLength());
}

CString& CString::operator+=(const char* text) {
    return text ? Append(text, CheckedLength(std::strlen(text))) : *this;
}

CString& CString::operator+=(char ch) { return Append(&ch, 1); }

CString& CString::operator+=(std::string_view text) { return Append(text.data(), CheckedLength(text.size())); }

CString operator+(const CString& a, const CString& b) {
    if (b.IsEmpty()) return a;
    if (a.IsEmpty()) return b;
    return Concat(a.m_pchData, a.GetLength(), b.m_pchData, static_cast<size_t>(b.GetLength()));
}

CString operator+(const CString& a, const char* b) {
    if (!b) b = "";
    return Concat(a.m_pchData, a.GetLength(), b, std::strlen(b));
}

CString operator+(const char* a, const CString& b) {
    if (!a) a = "";
    return Concat(a, CheckedLength(std::strlen(a)), b.m_pchData, static_cast<size_t>(b.GetLength()));
}

CString operator+(const CString& a, char b) { return Concat(a.m_pchData, a.GetLength(), &b, 1); }

CString operator+(char a, const CString& b) {
    return Concat(&a, 1, b.m_pchData, static_cast<size_t>(b.GetLength()));
}

// ---- comparison -----------------------------------------------------------

int CString::Compare(const char* text) const {
    if (!text) text = "";
    return CompareBytes(m_pchData, GetLength(), text, std::strlen(text));
}

int CString::Compare(const CString& text) const {
    if (m_pchData == text.m_pchData) return 0;
    return CompareBytes(m_pchData, GetLength(), text.m_pchData, static_cast<size_t>(text.GetLength()));
}

int CString::CompareNoCase(const char* text) const {
    if (!text) text = "";
    const unsigned char* a = reinterpret_cast<const unsigned char*>(m_pchData);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(text);
    size_t an = static_cast<size_t>(GetLength());
    size_t bn = std::strlen(text);
    size_t n = an < bn ? an : bn;
    // Equal so far means both texts have their character starts in step.
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = a[i], cb = b[i];
        if (ca >= 0x80 || cb >= 0x80) {
            if (ca != cb) return ca < cb ? -1 : 1;
            if (++i < n && a[i] != b[i]) return a[i] < b[i] ? -1 : 1;  // trail bytes: exact
            continue;
        }
        ca = AsciiLower(ca);
        cb = AsciiLower(cb);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return an == bn ? 0 : (an < bn ? -1 : 1);
}

bool operator==(const CString& a, const CString& b) {
    int n = a.GetLength();
    return a.c_str() == b.c_str() || (n == b.GetLength() && std::memcmp(a.c_str(), b.c_str(), static_cast<size_t>(n)) == 0);
}

bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
bool operator!=(const CString& a, const CString& b) { return !(a == b); }
bool operator!=(const CString& a, const char* b) { return a.Compare(b) != 0; }
bool operator!=(const char* a, const CString& b) { return b.Compare(a) != 0; }
bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }
bool operator>(const CString& a, const CString& b) { return a.Compare(b) > 0; }
bool operator<(const CString& a, const char* b) { return a.Compare(b) < 0; }
bool operator>(const CString& a, const char* b) { return a.Compare(b) > 0; }

// ---- substrings -----------------------------------------------------------

CString CString::Left(int count) const {
    if (count >= GetLength()) return *this;
    return CString(m_pchData, count);  // count <= 0 gives empty
}

CString CString::Mid(int first) const {
    int length = GetLength();
    if (first <= 0) return *this;
    if (first >= length) return CString();
    return CString(m_pchData + first, length - first);
}

CString CString::Mid(int first, int count) const {
    int length = GetLength();
    if (first < 0) first = 0;
    if (first >= length || count <= 0) return CString();
    if (count > length - first) count = length - first;
    if (first == 0 && count == length) return *this;
    return CString(m_pchData + first, count);
}

CString CString::Right(int count) const {
    int length = GetLength();
    if (count >= length) return *this;
    if (count <= 0) return CString();
    return CString(m_pchData + length - count, count);
}

// ---- searching ------------------------------------------------------------
// A negative start searches from the beginning.

int CString::Find(char ch, int start) const {
    int length = GetLength();
    if (start < 0) start = 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(m_pchData);
    unsigned char c = static_cast<unsigned char>(ch);
    int lo = 0;  // a known character start
    while (start < length) {
        const void* hit = std::memchr(s + start, c, static_cast<size_t>(length - start));
        if (!hit) return -1;
        int h = static_cast<int>(static_cast<const unsigned char*>(hit) - s);
        if (c >= 0x80 || IsCharStart(s, lo, h)) return h;
        lo = start = h + 1;
    }
    return -1;
}

int CString::Find(const char* text, int start) const {
    int length = GetLength();
    if (start < 0) start = 0;
    if (!text || start > length) return -1;
    size_t n = std::strlen(text);
    if (n == 0) return start;
    return FindText(reinterpret_cast<const unsigned char*>(m_pchData), length, 0, start, text, n);
}

int CString::ReverseFind(char ch) const {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(m_pchData);
    unsigned char c = static_cast<unsigned char>(ch);
    int end = GetLength();
    while (end > 0) {
        const void* hit = memrchr(s, c, static_cast<size_t>(end));
        if (!hit) return -1;
        int h = static_cast<int>(static_cast<const unsigned char*>(hit) - s);
        if (c >= 0x80 || IsCharStart(s, 0, h)) return h;
        end = h;
    }
    return -1;
}

// ---- modification ---------------------------------------------------------

CString& CString::MakeUpper() {
    int length = GetLength();
    int i = FindLetter(reinterpret_cast<const unsigned char*>(m_pchData), 0, length, 'a');
    if (i < length) {
        MakeUnique(length);
        ShiftLetters(reinterpret_cast<unsigned char*>(m_pchData), i, length, 'a', -32);
    }
    return *this;
}

CString& CString::MakeLower() {
    int length = GetLength();
    int i = FindLetter(reinterpret_cast<const unsigned char*>(m_pchData), 0, length, 'A');
    if (i < length) {
        MakeUnique(length);
        ShiftLetters(reinterpret_cast<unsigned char*>(m_pchData), i, length, 'A', 32);
    }
    return *this;
}

// Trail bytes are never white space, so trimming needs no character walk.
CString& CString::TrimLeft() {
    int length = GetLength();
    int n = 0;
    while (n < length && IsAsciiSpace(static_cast<unsigned char>(m_pchData[n]))) ++n;
    if (n) Assign(m_pchData + n, length - n);
    return *this;
}

CString& CString::TrimRight() {
    int length = GetLength();
    int n = length;
    while (n > 0 && IsAsciiSpace(static_cast<unsigned char>(m_pchData[n - 1]))) --n;
    if (n < length) Assign(m_pchData, n);
    return *this;
}

int CString::Replace(const char* oldText, const char* newText) {
    if (!oldText || !*oldText) return 0;
    if (!newText) newText = "";
    const unsigned char* s = reinterpret_cast<const unsigned char*>(m_pchData);
    int length = GetLength();
    size_t oldLen = std::strlen(oldText);
    size_t newLen = std::strlen(newText);
    int count = 0;
    for (int pos = FindText(s, length, 0, 0, oldText, oldLen); pos >= 0;
         pos = FindText(s, length, pos, pos + static_cast<int>(oldLen), oldText, oldLen))
        ++count;
    if (count == 0) return 0;

    long long total = length + static_cast<long long>(count) * (static_cast<long long>(newLen) - static_cast<long long>(oldLen));
    if (total > INT_MAX) throw std::length_error("CString: text too long");
    // Built in a new block: newText may point into this string.
    Header* h = NewBlock(static_cast<int>(total));
    char* out = TextOf(h);
    int done = 0;
    for (int pos = FindText(s, length, 0, 0, oldText, oldLen); pos >= 0;
         pos = FindText(s, length, pos, done, oldText, oldLen)) {
        std::memcpy(out, s + done, static_cast<size_t>(pos - done));
        out += pos - done;
        std::memcpy(out, newText, newLen);
        out += newLen;
        done = pos + static_cast<int>(oldLen);
    }
    std::memcpy(out, s + done, static_cast<size_t>(length - done));
    out[length - done] = 0;
    h->length = static_cast<int>(total);
    Release();
    m_pchData = TextOf(h);
    return count;
}

int CString::Delete(int index, int count) {
    int length = GetLength();
    if (index < 0) index = 0;
    if (count <= 0 || index >= length) return length;
    if (count > length - index) count = length - index;
    MakeUnique(length);
    std::memmove(m_pchData + index, m_pchData + index + count, static_cast<size_t>(length - index - count) + 1);
    HeaderOf(m_pchData)->length = length - count;
    return length - count;
}

int CString::Insert(int index, const char* text) {
    int length = GetLength();
    if (!text || !*text) return length;
    uintptr_t offset = reinterpret_cast<uintptr_t>(text) - reinterpret_cast<uintptr_t>(m_pchData);
    if (offset < static_cast<uintptr_t>(length)) {
        CString copy(text);  // the text is part of this string
        return Insert(index, copy);
    }
    if (index < 0) index = 0;
    if (index > length) index = length;
    int n = CheckedLength(std::strlen(text));
    if (n > INT_MAX - length) throw std::length_error("CString: text too long");
    Header* h = HeaderOf(m_pchData);
    if (length + n > h->capacity || !IsOwned(h)) MakeUnique(GrowCapacity(h->capacity, length + n));
    std::memmove(m_pchData + index + n, m_pchData + index, static_cast<size_t>(length - index) + 1);
    std::memcpy(m_pchData + index, text, static_cast<size_t>(n));
    HeaderOf(m_pchData)->length = length + n;
    return length + n;
}

// ---- formatting -----------------------------------------------------------

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

// Formats into a new block: the arguments may point into this string.
void CString::FormatV(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n <= 0) {
        Empty();
        return;
    }
    Header* h = NewBlock(n);
    std::vsnprintf(TextOf(h), static_cast<size_t>(n) + 1, format, args);
    h->length = n;
    Release();
    m_pchData = TextOf(h);
}

// ---- CStringArray ---------------------------------------------------------

namespace {

CString* GrowArray(CString* data, int size, int capacity) {
    CString* grown = new CString[static_cast<size_t>(capacity)];
    for (int i = 0; i < size; ++i) grown[i] = std::move(data[i]);
    delete[] data;
    return grown;
}

}  // namespace

CStringArray::CStringArray() : m_pData(nullptr), m_nSize(0), m_nMaxSize(0) {}

CStringArray::CStringArray(const CStringArray& other) : m_pData(nullptr), m_nSize(0), m_nMaxSize(0) {
    if (other.m_nSize == 0) return;
    m_pData = new CString[static_cast<size_t>(other.m_nSize)];
    m_nMaxSize = other.m_nSize;
    for (int i = 0; i < other.m_nSize; ++i) m_pData[i] = other.m_pData[i];
    m_nSize = other.m_nSize;
}

CStringArray& CStringArray::operator=(const CStringArray& other) {
    if (this != &other) {
        CStringArray copy(other);
        std::swap(m_pData, copy.m_pData);
        std::swap(m_nSize, copy.m_nSize);
        std::swap(m_nMaxSize, copy.m_nMaxSize);
    }
    return *this;
}

CStringArray::~CStringArray() { delete[] m_pData; }

// New elements are empty.
void CStringArray::SetSize(int newSize) {
    if (newSize < 0) newSize = 0;
    if (newSize > m_nMaxSize) {
        int capacity = GrowCapacity(m_nMaxSize, newSize);
        if (capacity < 4) capacity = 4;
        m_pData = GrowArray(m_pData, m_nSize, capacity);
        m_nMaxSize = capacity;
    }
    for (int i = newSize; i < m_nSize; ++i) m_pData[i].Empty();
    m_nSize = newSize;
}

void CStringArray::RemoveAll() {
    delete[] m_pData;
    m_pData = nullptr;
    m_nSize = m_nMaxSize = 0;
}

// Out of range: an empty string.
const CString& CStringArray::GetAt(int index) const {
    static const CString none;
    return static_cast<unsigned>(index) < static_cast<unsigned>(m_nSize) ? m_pData[index] : none;
}

// Out of range: a per-thread scratch string, so a stray write hurts nobody.
CString& CStringArray::ElementAt(int index) {
    if (static_cast<unsigned>(index) < static_cast<unsigned>(m_nSize)) return m_pData[index];
    static thread_local CString scratch;
    scratch.Empty();
    return scratch;
}

void CStringArray::SetAt(int index, const char* text) {
    if (static_cast<unsigned>(index) < static_cast<unsigned>(m_nSize)) m_pData[index] = text;
}

int CStringArray::Add(const char* text) { return Add(CString(text)); }

int CStringArray::Add(const CString& text) {
    CString value(text);  // text may be one of our elements
    SetSize(m_nSize + 1);
    m_pData[m_nSize - 1] = std::move(value);
    return m_nSize - 1;
}

// An index beyond the end first extends the array with empty strings.
void CStringArray::InsertAt(int index, const CString& text, int count) {
    if (count <= 0) return;
    if (index < 0) index = 0;
    CString value(text);  // text may be one of our elements
    int oldSize = m_nSize;
    if (index >= oldSize) {
        SetSize(index + count);
    } else {
        SetSize(oldSize + count);
        for (int i = oldSize - 1; i >= index; --i) m_pData[i + count] = std::move(m_pData[i]);
    }
    for (int i = index; i < index + count; ++i) m_pData[i] = value;
}

void CStringArray::RemoveAt(int index, int count) {
    if (index < 0 || index >= m_nSize || count <= 0) return;
    if (count > m_nSize - index) count = m_nSize - index;
    for (int i = index + count; i < m_nSize; ++i) m_pData[i - count] = std::move(m_pData[i]);
    for (int i = m_nSize - count; i < m_nSize; ++i) m_pData[i].Empty();
    m_nSize -= count;
}

// ---- blocks --------------------------------------------------------------

bool qotool::platform::ProbeText(const char* data, CString& text) {
    Header h;
    if ((uintptr_t)data < sizeof h || ((uintptr_t)data & 3) != 0) return false;
    if (!TryRead(&h, data - sizeof h, sizeof h) || h.magic != kMagic) return false;
    if (h.length < 0 || (h.refs >= 0 && h.length > h.capacity)) return false;
    CString copy;
    char* buffer = copy.GetBufferSetLength(h.length);
    if (!TryRead(buffer, data, (size_t)h.length)) return false;
    copy.ReleaseBuffer(h.length);
    text = copy;
    return true;
}

int qotool::platform::BlockHolders(const CString& text) {
    const Header* h = HeaderOf(text.c_str());
    return IsEmptyBlock(h) ? 0 : __atomic_load_n(&h->refs, __ATOMIC_ACQUIRE);
}

bool qotool::platform::AppendInPlace(CString& text, const char* data, int length) {
    Header* h = HeaderOf(text.c_str());
    if (length < 0 || !IsOwned(h) || length > h->capacity - h->length) return false;
    char* p = TextOf(h);
    if (length) std::memcpy(p + h->length, data, static_cast<size_t>(length));
    h->length += length;
    p[h->length] = 0;
    return true;
}

void qotool::platform::ReserveGrowing(CString& text, int total) {
    if (total <= 0) return;
    try {
        text.Reserve(total > INT_MAX / 2 ? INT_MAX : 2 * total);
        return;
    } catch (const std::bad_alloc&) {
        // The exact size may still fit.
    }
    text.Reserve(total);
}

// ---- CObject --------------------------------------------------------------

CObject::~CObject() = default;
