// qoArraycCode: one 16-bit code per row in a CString the caller owns, kept
// as the codes followed by a 0 code. Every operation takes the codes from
// the caller's buffer afresh (made private to it and at least count + 1
// codes long), so a buffer the caller has copied or replaced is never
// written through a stale pointer.
#include <climits>
#include <cstring>

#include "platform/ui.h"
#include "qotool/array_index.h"
#include "tables/row_hash.h"

namespace {

constexpr int kMaxCodes = INT_MAX / 2 - 2;

}  // namespace

qoArraycCode::qoArraycCode() : m_nCount(0), m_pBuffer(nullptr), m_pCodes(nullptr) {}

qoArraycCode& qoArraycCode::operator=(const qoArraycCode& other) {
    m_nCount = other.m_nCount;
    m_pBuffer = other.m_pBuffer;
    m_pCodes = other.m_pCodes;
    return *this;
}

unsigned short qoArraycCode::Coder(const char* text) {
    unsigned short code = qotool::tables::RowSum(text);
    if (!(code & 0x00FF)) code |= 0x0001;
    if (!(code & 0xFF00)) code |= 0x0100;
    return code;
}

// The codes in the caller's buffer, grown to hold count + 1 codes when the
// caller shortened it.
static unsigned short* Codes(CString* buffer, int count) {
    const int need = (count + 1) * 2;
    char* p = buffer->GetLength() < need ? buffer->GetBufferSetLength(need) : buffer->GetBuffer(buffer->GetLength());
    return reinterpret_cast<unsigned short*>(p);
}

unsigned short* qoArraycCode::SetWorkArea(CString& buffer, int count) {
    try {
        if (count < 0) count = ((int)strnlen(buffer.c_str(), (size_t)buffer.GetLength()) + 1) / 2;
        if (count > kMaxCodes) count = 0;
        m_pBuffer = &buffer;
        m_pCodes = reinterpret_cast<unsigned short*>(buffer.GetBufferSetLength((count + 1) * 2));
        m_pCodes[count] = 0;
        m_nCount = count;
    } catch (...) {
        m_nCount = 0;
        m_pCodes = nullptr;
    }
    return m_pCodes;
}

int qoArraycCode::InsertCode(int position, int k) {
    if (!m_pBuffer || position < 0 || k < 1 || k > kMaxCodes - m_nCount) return m_nCount;
    try {
        if (position > m_nCount) position = m_nCount;
        Codes(m_pBuffer, m_nCount);
        m_pCodes = reinterpret_cast<unsigned short*>(m_pBuffer->GetBufferSetLength((m_nCount + k + 1) * 2));
        std::memmove(m_pCodes + position + k, m_pCodes + position, (size_t)(m_nCount - position + 1) * 2);
        m_nCount += k;
    } catch (...) {
    }
    return m_nCount;
}

int qoArraycCode::DeleteCode(int position, int k) {
    if (position < 0 || k < 1) return m_nCount;
    if (!m_pBuffer || position >= m_nCount) return -1;
    try {
        if (k > m_nCount - position) k = m_nCount - position;
        m_pCodes = Codes(m_pBuffer, m_nCount);
        std::memmove(m_pCodes + position, m_pCodes + position + k, (size_t)(m_nCount - position - k + 1) * 2);
        m_nCount -= k;
        m_pCodes = reinterpret_cast<unsigned short*>(m_pBuffer->GetBufferSetLength((m_nCount + 1) * 2));
    } catch (...) {
    }
    return m_nCount;
}

void qoArraycCode::SetArrayCode(unsigned short code, int position) {
    if (!m_pBuffer || position < 0 || position >= m_nCount) {
        qotool::platform::ShowMessageBox("SetArrayCode()超出元素范围", "", 0);
        return;
    }
    try {
        m_pCodes = Codes(m_pBuffer, m_nCount);
        m_pCodes[position] = code;
    } catch (...) {
    }
}

void qoArraycCode::SetArrayCode(const char* text, int position) { SetArrayCode(Coder(text), position); }

int* qoArraycCode::FindRow(unsigned short code, CString& result) {
    try {
        qotool::tables::IntResults found(result);
        if (m_pBuffer) {
            m_pCodes = Codes(m_pBuffer, m_nCount);
            for (int i = 0; i < m_nCount; ++i)
                if (m_pCodes[i] == code) found.Add(i);
        }
        return found.Result();
    } catch (...) {
        static int none[1] = {0};
        none[0] = 0;
        return none;
    }
}

int* qoArraycCode::FindRow(const char* text, CString& result) { return FindRow(Coder(text), result); }
