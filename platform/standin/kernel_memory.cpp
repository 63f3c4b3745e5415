// Fixed global memory: GlobalAlloc and GlobalFree.
#include "platform/standin/testing.h"

#include <cstdlib>

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (standin::ShouldFail(standin::Fault::GlobalAlloc)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Only fixed memory exists here; a zero-byte block is still a block.
    void* memory = (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1)
                                           : std::malloc(bytes ? bytes : 1);
    if (!memory)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return memory;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
    std::free(memory);
    return nullptr;
}
