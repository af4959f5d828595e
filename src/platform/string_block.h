// What the engine may ask of a CString's block beyond the class's own
// interface: how many strings share it, and growing a block that one string
// holds alone without moving it. Implemented beside CString (cstring.cpp).
#ifndef QOTOOL_PLATFORM_STRING_BLOCK_H
#define QOTOOL_PLATFORM_STRING_BLOCK_H

#include "platform/cstring.h"

namespace qotool::platform {

// The number of CStrings that share text's block; 0 for the empty text,
// which every empty string shares and nobody counts.
int BlockHolders(const CString& text);

// When text alone holds its block and the block has room for length more
// bytes: appends them there (the block stays where it is) and returns true.
// Otherwise nothing changes and the result is false. data must not point
// into text's block.
bool AppendInPlace(CString& text, const char* data, int length);

// Gives text room for total bytes, or for twice that where the memory
// allows, for a string that keeps growing at its end. Throws std::bad_alloc
// when not even total bytes can be had.
void ReserveGrowing(CString& text, int total);

// The text of the string whose text pointer is data, read through the
// memory probe only (data may lead anywhere: freed memory, another
// object): true with the text copied into text when the bytes there hold a
// string's header and a readable text of its length.
bool ProbeText(const char* data, CString& text);

}  // namespace qotool::platform

#endif
