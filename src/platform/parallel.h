#pragma once
// The one helper for the heavy loops: the blocks of a loop run on a fixed pool of worker
// threads, the calling thread working too.
//
// Block boundaries are given by the loop (count and block size), never by the number of
// threads, and every block writes only its own outputs, so a loop gives the same bytes with
// 1 thread and with 64. A reduction keeps one partial result per block and combines them in
// block order after the loop.
//
// Progress and cancel stay on the calling thread. A body that calls the helper again (from
// any thread) runs its inner loop inline, without ticks: the outer loop owns the bar.
#include <cstdint>
#include <functional>

// The body of a loop: the items [begin, end) of one block.
using BlockBody = std::function<void(int64_t begin, int64_t end)>;

// The number of threads the loops run on: the one set by SetParallelThreads, else
// ZEP_THREADS from the environment when it holds a count, else every hardware thread.
int ParallelThreads();
// Sets the count for the rest of the process (1 runs every loop inline on the calling
// thread); 0 goes back to ZEP_THREADS or the hardware.
void SetParallelThreads(int count);
// The count a ZEP_THREADS value asks for: a whole number from 1 to 1024, else 0 (none).
int ParseThreadCount(const char* text);

// Items per block for loops whose items cost about `itemCost` units (samples, taps x
// samples): blocks of some 260 thousand units, at least one item. Depends on the work only.
int64_t BlockFor(int64_t itemCost);

// Runs body over the items [0, count) in blocks [0, block), [block, 2 block), ... and
// returns when all have run. An exception thrown by a block stops the loop (no block
// starts after it) and is rethrown here once every worker has stopped; when several blocks
// that ran threw, the one of the lowest block.
void ParallelBlocks(int64_t count, int64_t block, const BlockBody& body);

// The same with progress ticks, issued on the calling thread as blocks complete and each
// polling the cancel keys: one per item, or `ticks` in all spread evenly over the blocks
// when that is not negative (a loop whose ticks count other units than its blocks). True
// when the user cancelled: the blocks running then finish, no other starts, and the
// outputs of the blocks not run are left as they were. With one thread the ticks of a
// block come before it, as a plain loop would issue them.
bool ParallelBlocksTicking(int64_t count, int64_t block, const BlockBody& body, int64_t ticks = -1);
// The same for loops of very many cheap ticks: the ticks due whenever the calling thread
// looks are issued together through StepProgressBy, the cancel keys polled once for them.
// The count and the bar end as ParallelBlocksTicking leaves them.
bool ParallelBlocksTickingInBatches(int64_t count, int64_t block, const BlockBody& body,
                                    int64_t ticks = -1);
