#pragma once
#include <cstddef>

// Lists from this many rows up leave enough sort scratch (36 MB for a million rows) to be worth
// handing back to the system; smaller ones are left to the allocator.
inline constexpr std::size_t kLargeListRows = 65'536;

// Hands the heap's free pages back to the system once a fresh listing of `rows` rows has been
// sorted and before the view lays it out. glibc keeps freed blocks for later use, so without
// this the view's layout (40 MB of fresh pages for a million rows) comes on top of the sort's
// freed scratch instead of in its place. Not after re-sorts, nor when rows are dropped: the
// next sort or listing would only fault the same pages back in (measurably slower listings).
void GiveBackFreedMemory(std::size_t rows);
