// Fixed global memory: GlobalAlloc and GlobalFree, with a count of the blocks
// still out so that tests can see every block given back.
#include "platform/standin/testing.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<long> live_blocks{0};
}

long standin::LiveGlobalBlocks() {
    return live_blocks;
}

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
    else
        ++live_blocks;
    return memory;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
    if (memory)
        --live_blocks;
    std::free(memory);
    return nullptr;
}
