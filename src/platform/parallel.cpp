#include "platform/parallel.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/progress.h"

namespace {
constexpr int kMaxThreads = 1024;
constexpr int64_t kBlockWork = 1 << 18;

// True on the workers, and on a calling thread while its loop runs: a loop started there
// runs inline.
thread_local bool insideLoop = false;

std::atomic<int> chosenThreads{0};

int DefaultThreads() {
  static const int count = [] {
    const int asked = ParseThreadCount(std::getenv("ZEP_THREADS"));
    if (asked > 0) return asked;
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware == 0 ? 1 : int(std::min<unsigned>(hardware, kMaxThreads));
  }();
  return count;
}

// One loop being run.
struct Job {
  int64_t count = 0, block = 0, blocks = 0;
  const BlockBody* body = nullptr;
  std::atomic<int64_t> next{0};   // the next block to start
  std::atomic<bool> stop{false};  // a cancel or an exception: start no more blocks
  int64_t ticks = -1;             // ticks in all, or -1 for one per item
  bool batched = false;           // ticks issued together, one poll for each batch
  int64_t doneItems = 0;          // items of the finished blocks (under the pool's lock)
  int64_t doneBlocks = 0;         // and their number

  // The ticks due once `blocks` blocks holding `items` items have finished.
  int64_t TicksDue(int64_t finished, int64_t items) const {
    return ticks < 0 ? items : finished * ticks / blocks;
  }
  std::exception_ptr error;  // the exception of the lowest block that threw
  int64_t errorBlock = INT64_MAX;
};

class Pool {
 public:
  ~Pool() { Resize(0); }

  // Runs the job on the workers and the calling thread; returns true when cancelled.
  bool Run(Job& job, bool ticking) {
    std::lock_guard<std::mutex> one(run_);  // one loop at a time from different threads
    Resize(ParallelThreads() - 1);
    {
      std::lock_guard<std::mutex> lock(m_);
      job_ = &job;
      ++generation_;
    }
    wake_.notify_all();
    insideLoop = true;
    int64_t ticked = 0;
    bool cancelled = false;
    // Ticks for the items finished so far; false on a cancel, or when a tick threw (the
    // exception then waits for the workers like one of a block).
    auto tick = [&](int64_t done) {
      if (!ticking) return true;
      try {
        if (job.batched) {
          if (StepProgressBy(done - ticked)) return false;
          ticked = std::max(ticked, done);
        }
        for (; ticked < done; ++ticked) {
          if (StepProgress()) return false;
        }
      } catch (...) {
        std::lock_guard<std::mutex> lock(m_);
        job.errorBlock = -1;
        job.error = std::current_exception();
        return false;
      }
      return true;
    };
    for (;;) {
      int64_t done;
      {
        std::lock_guard<std::mutex> lock(m_);
        done = job.TicksDue(job.doneBlocks, job.doneItems);
      }
      if (!tick(done)) {
        cancelled = true;
        job.stop = true;
        break;
      }
      if (!RunOneBlock(job)) break;
    }
    // The rest of the blocks run on the workers: tick as they finish, then wait for all.
    std::unique_lock<std::mutex> lock(m_);
    job_ = nullptr;
    for (;;) {
      const int64_t done = job.TicksDue(job.doneBlocks, job.doneItems);
      const bool idle = busy_ == 0;
      if (ticking && !cancelled && done > ticked) {
        lock.unlock();
        if (!tick(done)) {
          cancelled = true;
          job.stop = true;
        }
        lock.lock();
        continue;
      }
      if (idle) break;
      finished_.wait(lock);
    }
    lock.unlock();
    insideLoop = false;
    if (job.error) std::rethrow_exception(job.error);
    return cancelled;
  }

 private:
  // Runs the next block of the job; false when there is none (or the job stopped).
  bool RunOneBlock(Job& job) {
    if (job.stop.load(std::memory_order_relaxed)) return false;
    const int64_t b = job.next.fetch_add(1);
    if (b >= job.blocks) return false;
    const int64_t begin = b * job.block, end = std::min(job.count, begin + job.block);
    try {
      (*job.body)(begin, end);
    } catch (...) {
      std::lock_guard<std::mutex> lock(m_);
      if (b < job.errorBlock) {
        job.errorBlock = b;
        job.error = std::current_exception();
      }
      job.stop = true;
      finished_.notify_all();
      return false;
    }
    {
      std::lock_guard<std::mutex> lock(m_);
      job.doneItems += end - begin;
      ++job.doneBlocks;
    }
    finished_.notify_all();
    return true;
  }

  void Work() {
    insideLoop = true;
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
      wake_.wait(lock, [&] { return quit_ || (job_ && generation_ != seen); });
      if (quit_) return;
      seen = generation_;
      Job& job = *job_;
      ++busy_;
      lock.unlock();
      while (RunOneBlock(job)) {
      }
      lock.lock();
      --busy_;
      finished_.notify_all();
    }
  }

  // Brings the pool to `workers` threads (the caller holds run_ or is the destructor).
  void Resize(int workers) {
    if (int(threads_.size()) == workers) return;
    {
      std::lock_guard<std::mutex> lock(m_);
      quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    quit_ = false;
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  }

  std::mutex run_;
  std::mutex m_;
  std::condition_variable wake_, finished_;
  std::vector<std::thread> threads_;
  Job* job_ = nullptr;
  uint64_t generation_ = 0;
  int busy_ = 0;
  bool quit_ = false;
};

Pool& ThePool() {
  static Pool pool;
  return pool;
}

bool Loop(int64_t count, int64_t block, const BlockBody& body, bool ticking, int64_t ticks,
          bool batched = false) {
  if (count <= 0) return false;
  block = std::max<int64_t>(1, block);
  const int64_t blocks = (count - 1) / block + 1;
  if (insideLoop) {
    for (int64_t begin = 0; begin < count; begin += block)
      body(begin, std::min(count, begin + block));
    return false;
  }
  Job job;
  job.count = count;
  job.block = block;
  job.blocks = blocks;
  job.body = &body;
  job.ticks = ticks;
  job.batched = batched;
  if (blocks == 1 || ParallelThreads() == 1) {
    // Inline, as a plain loop: the ticks of a block before it.
    insideLoop = true;
    struct Leave {
      ~Leave() { insideLoop = false; }
    } leave;
    for (int64_t b = 0; b < blocks; ++b) {
      const int64_t begin = b * block, end = std::min(count, begin + block);
      if (ticking) {
        const int64_t due = job.TicksDue(b + 1, end) - job.TicksDue(b, begin);
        if (batched && StepProgressBy(due)) return true;
        for (int64_t i = 0; !batched && i < due; ++i) {
          if (StepProgress()) return true;
        }
      }
      body(begin, end);
    }
    return false;
  }
  return ThePool().Run(job, ticking);
}
}  // namespace

int ParseThreadCount(const char* text) {
  if (!text) return 0;
  const char* end = text + std::strlen(text);
  int value = 0;
  const auto [p, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || p != end || value < 1 || value > kMaxThreads) return 0;
  return value;
}

int ParallelThreads() {
  const int chosen = chosenThreads.load(std::memory_order_relaxed);
  return chosen > 0 ? chosen : DefaultThreads();
}

void SetParallelThreads(int count) {
  chosenThreads.store(std::clamp(count, 0, kMaxThreads), std::memory_order_relaxed);
}

int64_t BlockFor(int64_t itemCost) {
  return std::max<int64_t>(1, kBlockWork / std::max<int64_t>(1, itemCost));
}

void ParallelBlocks(int64_t count, int64_t block, const BlockBody& body) {
  Loop(count, block, body, false, -1);
}

bool ParallelBlocksTicking(int64_t count, int64_t block, const BlockBody& body, int64_t ticks) {
  return Loop(count, block, body, true, ticks);
}

bool ParallelBlocksTickingInBatches(int64_t count, int64_t block, const BlockBody& body,
                                    int64_t ticks) {
  return Loop(count, block, body, true, ticks, true);
}
