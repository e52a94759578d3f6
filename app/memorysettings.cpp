#include "app/memorysettings.h"

#include <malloc.h>

bool KeepFreedMemory()
{
#if defined(__GLIBC__)
    const bool mmap = mallopt(M_MMAP_THRESHOLD, static_cast<int>(MmapThreshold)) == 1;
    const bool trim = mallopt(M_TRIM_THRESHOLD, static_cast<int>(TrimThreshold)) == 1;
    return mmap && trim;
#else
    return false;
#endif
}
