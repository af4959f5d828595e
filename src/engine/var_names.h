// Variable names as the store sees them: blanks, tabs and '@' removed, and
// array cells split into the array name and the subscripts. Both step over
// two-byte GBK characters, whose trail byte may look like '@' or '['.
#ifndef QOTOOL_ENGINE_VAR_NAMES_H
#define QOTOOL_ENGINE_VAR_NAMES_H

#include <string>
#include <string_view>

namespace qotool::engine {

// A name with spaces, tabs and '@' removed. Refers to the caller's text when
// there is nothing to remove; otherwise copies into a stack buffer (a heap
// string only for names longer than the buffer).
class NormalizedName {
public:
    explicit NormalizedName(const char* name);
    NormalizedName(const NormalizedName&) = delete;
    NormalizedName& operator=(const NormalizedName&) = delete;

    std::string_view view() const { return std::string_view(data_, length_); }
    const char* c_str() const { return data_; }  // zero-terminated
    bool HadAtSign() const { return hadAt_; }

private:
    char buffer_[256];
    std::string long_;
    const char* data_;
    size_t length_;
    bool hadAt_ = false;
};

// An array cell name "a[r]", "a[r][c]", "a[r,c]" or "a[]".
struct CellName {
    std::string_view array;  // the text before the first '['
    int row = 0;             // -1 for "[]" (the whole array)
    int column = 0;          // 0 when there is no second subscript
    bool whole = false;      // "a[]": the whole array
};

// Splits name into a cell; false when name has no '['. Subscripts follow C
// atol (an optional sign and decimal digits; anything else reads as 0),
// saturated to the int range.
bool ParseCellName(std::string_view name, CellName* cell);

// True when byte c starts a two-byte GBK character.
inline bool IsGbkLead(char c) { return (unsigned char)c >= 0x80; }

}  // namespace qotool::engine

#endif
