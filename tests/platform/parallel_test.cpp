#include "platform/parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/progress.h"
#include "support/zep_test.h"

namespace {
class ParallelTest : public ZepTest {
 protected:
  void TearDown() override {
    SetParallelThreads(0);
    ZepTest::TearDown();
  }
};

using Blocks = std::set<std::pair<int64_t, int64_t>>;

Blocks BlocksRun(int threads, int64_t count, int64_t block) {
  SetParallelThreads(threads);
  std::mutex m;
  Blocks seen;
  std::vector<std::atomic<int>> visits(size_t(std::max<int64_t>(count, 0)));
  ParallelBlocks(count, block, [&](int64_t begin, int64_t end) {
    for (int64_t i = begin; i < end; ++i) ++visits[size_t(i)];
    std::lock_guard<std::mutex> lock(m);
    seen.insert({begin, end});
  });
  for (const auto& v : visits) EXPECT_EQ(v.load(), 1);
  return seen;
}

void Pause() { std::this_thread::sleep_for(std::chrono::microseconds(300)); }
}  // namespace

TEST_F(ParallelTest, BlocksDependOnTheWorkAloneAndCoverEveryItemOnce) {
  struct Case {
    int64_t count, block;
  };
  for (const Case c :
       {Case{0, 4}, Case{1, 4}, Case{7, 1}, Case{1000, 64}, Case{1001, 7}, Case{5, 0}}) {
    const Blocks one = BlocksRun(1, c.count, c.block);
    int64_t items = 0;
    for (const auto& [b, e] : one) items += e - b;
    EXPECT_EQ(items, c.count);
    for (int threads : {2, 3, 8}) {
      EXPECT_EQ(BlocksRun(threads, c.count, c.block), one)
          << c.count << " items in blocks of " << c.block << " on " << threads << " threads";
    }
  }
}

TEST_F(ParallelTest, ThreadCountComesFromTheSettingThenTheEnvironment) {
  struct Case {
    const char* text;
    int count;
  };
  for (const Case c : {Case{"8", 8}, Case{"1", 1}, Case{"1024", 1024}, Case{"0", 0},
                       Case{"1025", 0}, Case{"-2", 0}, Case{"4x", 0}, Case{" 4", 0}, Case{"", 0},
                       Case{"abc", 0}, Case{nullptr, 0}}) {
    EXPECT_EQ(ParseThreadCount(c.text), c.count) << (c.text ? c.text : "(unset)");
  }
  const char* old = std::getenv("ZEP_THREADS");
  const std::string kept = old ? old : "";
  setenv("ZEP_THREADS", "3", 1);
  SetParallelThreads(0);
  EXPECT_EQ(ParallelThreads(), 3);
  SetParallelThreads(5);
  EXPECT_EQ(ParallelThreads(), 5);
  // The loops run on at most that many threads; with one, on the calling thread alone.
  for (int threads : {1, 3}) {
    SetParallelThreads(threads);
    std::mutex m;
    std::set<std::thread::id> ids;
    ParallelBlocks(64, 1, [&](int64_t, int64_t) {
      Pause();
      std::lock_guard<std::mutex> lock(m);
      ids.insert(std::this_thread::get_id());
    });
    EXPECT_LE(int(ids.size()), threads);
    if (threads == 1) {
      EXPECT_EQ(*ids.begin(), std::this_thread::get_id());
    }
  }
  if (old) {
    setenv("ZEP_THREADS", kept.c_str(), 1);
  } else {
    unsetenv("ZEP_THREADS");
  }
}

// The two ticking loops: ticks one at a time, and in batches with a poll each.
using TickingLoopFn = bool (*)(int64_t, int64_t, const BlockBody&, int64_t);
constexpr TickingLoopFn kTickingLoops[] = {ParallelBlocksTicking, ParallelBlocksTickingInBatches};

TEST_F(ParallelTest, TicksAreOnePerItemWithAnyThreadCount) {
  std::vector<int> drawn;
  for (TickingLoopFn ticking : kTickingLoops) {
    for (int threads : {1, 8}) {
      SetParallelThreads(threads);
      ui.progressDrawn.clear();
      StartProgress(301);
      std::atomic<int64_t> items{0};
      EXPECT_FALSE(ticking(
          301, 16, [&](int64_t b, int64_t e) { items += e - b; }, -1));
      EXPECT_EQ(items.load(), 301);
      EXPECT_EQ(Progress().count, 301) << threads << " threads";
      if (drawn.empty()) {
        drawn = ui.progressDrawn;
      } else {
        EXPECT_EQ(ui.progressDrawn, drawn);
      }
      // Ticks of other units spread over the blocks, fewer or more than the items.
      for (int64_t ticks : {3, 1000}) {
        StartProgress(float(ticks));
        EXPECT_FALSE(ticking(
            301, 16, [](int64_t, int64_t) {}, ticks));
        EXPECT_EQ(Progress().count, ticks) << threads << " threads";
      }
    }
  }
}

TEST_F(ParallelTest, CancelAtTheFirstTickStopsStartingBlocks) {
  for (TickingLoopFn ticking : kTickingLoops) {
    for (int threads : {1, 8}) {
      SetParallelThreads(threads);
      platform.CancelAtPoll(1);
      StartProgress(1000);
      std::atomic<int> started{0}, running{0};
      EXPECT_TRUE(ticking(
          1000, 1,
          [&](int64_t, int64_t) {
            ++started;
            ++running;
            Pause();
            --running;
          },
          -1));
      EXPECT_EQ(running.load(), 0);  // every block that started has finished
      EXPECT_LT(started.load(), 1000);
      if (threads == 1) {
        EXPECT_EQ(started.load(), 0);  // the tick comes before the block
      }
      EXPECT_EQ(Progress().count, 0);
      EXPECT_TRUE(Progress().suspended);
    }
  }
}

TEST_F(ParallelTest, AnExceptionOfOneBlockReachesTheCallerAfterEveryBlockStopped) {
  for (int threads : {1, 2, 8}) {
    SetParallelThreads(threads);
    std::atomic<int> running{0}, started{0};
    auto body = [&](int64_t begin, int64_t) {
      ++started;
      ++running;
      Pause();
      --running;
      if (begin == 5) throw std::runtime_error("block five");
    };
    try {
      ParallelBlocks(400, 1, body);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "block five");
    }
    EXPECT_EQ(running.load(), 0) << threads << " threads";
    EXPECT_LT(started.load(), 400);
    // Memory exhausted keeps its type, and the pool still serves the next loop.
    EXPECT_THROW(ParallelBlocksTicking(50, 1,
                                       [](int64_t b, int64_t) {
                                         if (b == 30) throw std::bad_alloc();
                                       }),
                 std::bad_alloc);
    std::atomic<int64_t> sum{0};
    ParallelBlocks(100, 3, [&](int64_t b, int64_t e) {
      for (int64_t i = b; i < e; ++i) sum += i;
    });
    EXPECT_EQ(sum.load(), 4950);
  }
}

TEST_F(ParallelTest, ALoopInsideABlockRunsInlineWithoutTicks) {
  SetParallelThreads(4);
  StartProgress(40);
  std::atomic<int> mismatched{0}, inner{0};
  EXPECT_FALSE(ParallelBlocksTicking(8, 1, [&](int64_t, int64_t) {
    const std::thread::id outer = std::this_thread::get_id();
    EXPECT_FALSE(ParallelBlocksTicking(5, 1, [&](int64_t, int64_t) {
      if (std::this_thread::get_id() != outer) ++mismatched;
      ++inner;
    }));
  }));
  EXPECT_EQ(mismatched.load(), 0);
  EXPECT_EQ(inner.load(), 40);
  EXPECT_EQ(Progress().count, 8);  // the outer loop's ticks alone
}
