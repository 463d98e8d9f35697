#pragma once
#include <cstddef>

// Lists from this many rows up free enough at once (tens of megabytes for a million rows) to be
// worth handing back to the system; smaller ones are left to the allocator.
inline constexpr std::size_t kLargeListRows = 65'536;

// Hands the heap's free pages back to the system after a list of `rows` rows was sorted or
// dropped. glibc keeps freed small blocks for later use, so without this a program that once
// showed a million rows keeps their 250 MB, and the list view's next layout comes on top of a
// sort's freed scratch instead of in its place.
void GiveBackFreedMemory(std::size_t rows);
