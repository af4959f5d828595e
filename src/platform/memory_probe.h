// Probing caller memory without touching it. Hosts hand the library raw
// addresses; before the library reads or writes through one it did not make
// itself, it asks here whether the memory is there. The kernel does the
// access on the library's behalf, so an invalid address is an answer
// (false), never a fault.
#ifndef QOTOOL_PLATFORM_MEMORY_PROBE_H
#define QOTOOL_PLATFORM_MEMORY_PROBE_H

#include <cstddef>

namespace qotool::platform {

// Whether all n bytes from p can be read (n == 0: true).
bool IsReadable(const void* p, size_t n);

// The length of the zero-terminated string at p when every byte of it,
// terminator included, can be read; false (length untouched) otherwise.
bool ReadableStringLength(const char* p, size_t* length);

// ReadableStringLength for several strings at once (at most 8), in one
// system call when they are short: readable[i] tells whether strings[i] can
// be read, lengths[i] is then its length. A null string is not readable.
void ProbeStrings(const char* const* strings, size_t count, size_t* lengths, bool* readable);

// Stores value at p when that byte is writable; false, nothing written,
// otherwise.
bool TryStoreByte(void* p, char value);

// Copies n bytes from the unknown memory at from into our buffer to; false
// when any of them cannot be read (to may then be partly written).
bool TryRead(void* to, const void* from, size_t n);
// Copies n bytes from our buffer from into the unknown memory at to; false
// when any of them cannot be written (a part may then be written already).
bool TryWrite(void* to, const void* from, size_t n);

// Asks the system to make the whole pages inside the size bytes at p present
// now, in one call, instead of a fault on each first touch; where the system
// cannot, or refuses, the pages fault in as they are touched.
void MakePagesPresent(void* p, size_t size);

}  // namespace qotool::platform

#endif
