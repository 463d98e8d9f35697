#include "ftp/FreedMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void GiveBackFreedMemory(std::size_t rows)
{
#if defined(__GLIBC__)
    // Walks only the free blocks: a few milliseconds even beside a million live rows.
    if (rows >= kLargeListRows)
        ::malloc_trim(0);
#else
    (void)rows;
#endif
}
