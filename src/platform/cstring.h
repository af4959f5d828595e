// CString: the counted byte string every qotool interface passes around.
// The platform layer implements it (cstring.cpp); the public
// qotool/cstring.h includes this header, which is installed beside it as
// qotool/platform/cstring.h (so it includes its siblings by bare name).
//
// Layout: one char* member pointing just past a heap header
// {magic, refs, length, capacity}; the buffer is always zero-terminated and
// may hold embedded zero bytes (the length counts them). Copies share the
// buffer (reference counted); a buffer is copied only when one of its sharers
// changes it, so the buffer of an unmodified string stays at one address.
// The copy constructor and destructor are user-provided on purpose: the
// C++ ABI then passes a CString by hidden pointer.
// All texts are GBK byte strings; MakeUpper/MakeLower step over two-byte
// characters (a byte >= 0x80 starts one) and change ASCII letters only.
#ifndef QOTOOL_PLATFORM_CSTRING_H
#define QOTOOL_PLATFORM_CSTRING_H

#if !defined(__cplusplus) || __cplusplus < 201703L
#error "CString needs C++17; C and older C++ hosts use <qotool/qotool.h>"
#endif

#include <cstdarg>
#include <cstddef>
#include <string_view>

#include "export.h"

class QO_API CString {
public:
    CString() noexcept;
    CString(const CString& other) noexcept;
    CString(CString&& other) noexcept;
    CString(const char* text);                 // null = empty
    CString(const char* data, int length);     // exactly length bytes
    CString(char ch, int repeat = 1);
    explicit CString(std::string_view text);
    ~CString();

    CString& operator=(const CString& other) noexcept;
    CString& operator=(CString&& other) noexcept;
    CString& operator=(const char* text);
    CString& operator=(char ch);
    CString& operator=(std::string_view text);

    int GetLength() const noexcept;
    bool IsEmpty() const noexcept { return GetLength() == 0; }
    void Empty() noexcept;
    char GetAt(int index) const;
    char operator[](int index) const { return GetAt(index); }
    void SetAt(int index, char ch);

    operator const char*() const noexcept { return m_pchData; }
    const char* c_str() const noexcept { return m_pchData; }
    std::string_view view() const noexcept { return std::string_view(m_pchData, (size_t)GetLength()); }

    // Buffer access. GetBuffer makes the buffer private and at least
    // minLength bytes (+ terminator) large; ReleaseBuffer(-1) takes the
    // length from strlen, otherwise sets it to newLength.
    char* GetBuffer(int minLength);
    char* GetBufferSetLength(int length);
    void ReleaseBuffer(int newLength = -1);
    void Reserve(int capacity);

    CString& operator+=(const CString& text);
    CString& operator+=(const char* text);
    CString& operator+=(char ch);
    CString& operator+=(std::string_view text);
    CString& Append(const char* data, int length);

    friend QO_API CString operator+(const CString& a, const CString& b);
    friend QO_API CString operator+(const CString& a, const char* b);
    friend QO_API CString operator+(const char* a, const CString& b);
    friend QO_API CString operator+(const CString& a, char b);
    friend QO_API CString operator+(char a, const CString& b);

    // Byte-wise comparison over the stored lengths (memcmp, then length).
    int Compare(const char* text) const;
    int Compare(const CString& text) const;
    // ASCII letters compared without case; two-byte characters byte-wise.
    int CompareNoCase(const char* text) const;

    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Right(int count) const;

    // Byte positions, -1 when not found. Find of a text steps over two-byte
    // characters (a match never starts on a trail byte).
    int Find(char ch, int start = 0) const;
    int Find(const char* text, int start = 0) const;
    int ReverseFind(char ch) const;

    CString& MakeUpper();
    CString& MakeLower();
    CString& TrimLeft();
    CString& TrimRight();
    int Replace(const char* oldText, const char* newText);
    int Delete(int index, int count = 1);
    int Insert(int index, const char* text);

    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* format, va_list args);

    // True when this object's buffer belongs to a live CString header.
    bool IsValid() const noexcept;

private:
    void Release() noexcept;
    void MakeUnique(int capacity);
    void Assign(const char* data, int length);

    char* m_pchData;
};

QO_API bool operator==(const CString& a, const CString& b);
QO_API bool operator==(const CString& a, const char* b);
QO_API bool operator==(const char* a, const CString& b);
QO_API bool operator!=(const CString& a, const CString& b);
QO_API bool operator!=(const CString& a, const char* b);
QO_API bool operator!=(const char* a, const CString& b);
QO_API bool operator<(const CString& a, const CString& b);
QO_API bool operator>(const CString& a, const CString& b);
QO_API bool operator<(const CString& a, const char* b);
QO_API bool operator>(const CString& a, const char* b);

// A growable array of CString, only as large as the exported interfaces need.
class QO_API CStringArray {
public:
    CStringArray();
    CStringArray(const CStringArray& other);
    CStringArray& operator=(const CStringArray& other);
    ~CStringArray();

    int GetSize() const noexcept { return m_nSize; }
    int GetUpperBound() const noexcept { return m_nSize - 1; }
    void SetSize(int newSize);
    void RemoveAll();
    const CString& GetAt(int index) const;
    CString& ElementAt(int index);
    void SetAt(int index, const char* text);
    int Add(const char* text);
    int Add(const CString& text);
    void InsertAt(int index, const CString& text, int count = 1);
    void RemoveAt(int index, int count = 1);
    const CString& operator[](int index) const { return GetAt(index); }
    CString& operator[](int index) { return ElementAt(index); }

private:
    CString* m_pData;
    int m_nSize;
    int m_nMaxSize;
};

// Root of the platform objects that interpreters may be linked to.
class QO_API CObject {
public:
    CObject() = default;
    virtual ~CObject();
};

#endif
