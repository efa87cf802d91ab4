#pragma once
#include <cstddef>

// Zero-filled memory for frame-sized buffers. Large blocks are mapped
// straight from the system and asked for huge pages: faulting in a fresh
// 48 MB block a 4 KiB page at a time costs a third of a second on these
// machines, in 2 MiB pages a few milliseconds (and the strided fills of a
// pattern miss the TLB far less). Small blocks come from the heap.
// Null when the memory cannot be had; bytes 0 asks for a minimal block.
void *qiAllocFrameMemory(size_t bytes);
// Gives back a block of qiAllocFrameMemory, with the byte count it was
// asked for.
void qiFreeFrameMemory(void *p, size_t bytes);
