// Advice to the kernel about large memory blocks.
#pragma once

#include <cstddef>

// A large block that is about to be filled in one sweep (a whole file, a
// whole picture) is asked to be backed by huge pages: the kernel then takes
// one fault per 2 MB instead of one per 4 KB page, which on a virtual
// machine is most of the cost of filling it. Blocks under 8 MB, and kernels
// that do not offer huge pages, are left as they are.
void AdviseHugePages(void* block, std::size_t bytes);

// Has a helper thread fault in the whole pages of a large block that is
// about to be filled, so that the kernel's clearing of fresh pages runs
// beside the work that fills the block instead of in its way. The contents
// are never touched: a block freed meanwhile costs the helper a failed call
// and nothing else. Blocks under 8 MB are left alone.
void PopulateInBackground(void* block, std::size_t bytes);

// Faults in at once the whole pages of a mid-sized block (64 KB up to the
// 8 MB where the helper thread takes over) that is about to be filled, one
// call instead of a trap per 4 KB page: on a virtual machine the traps cost
// more than clearing the pages. Blocks of other sizes are left alone.
void PopulatePages(void* block, std::size_t bytes);

// Has the heap keep the memory of freed blocks up to 32 MB for the blocks
// that follow, and give free memory back to the system only past 64 MB.
// Left to itself the allocator maps a block of a few megabytes afresh each
// time and unmaps it when it is freed, so that the kernel clears its pages
// again for every drag of many files, every list of names, every mid-sized
// picture; the bigger blocks are mapped and unmapped as before. Called once
// at the start, before the program's work.
void KeepFreedBlocksForReuse();
