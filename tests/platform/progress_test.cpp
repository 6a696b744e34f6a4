#include "platform/progress.h"

#include "platform/errors.h"
#include "support/zep_test.h"

using ProgressTest = ZepTest;

TEST_F(ProgressTest, TwoHundredTicksReachOneHundredAtTheEnd) {
  StartProgress(200);
  EXPECT_EQ(ui.progressPaneShown, 1);
  EXPECT_FLOAT_EQ(Progress().factor, 0.505f);
  std::vector<int> percents;
  std::vector<int> lastShown;
  for (int tick = 1; tick <= 201; ++tick) {
    EXPECT_FALSE(StepProgress());
    percents.push_back(Progress().percent);
    lastShown.push_back(Progress().lastShown);
  }
  EXPECT_EQ(percents[0], 0);
  EXPECT_EQ(percents[1], 1);
  EXPECT_EQ(percents[2], 1);
  EXPECT_EQ(percents[198], 100);
  EXPECT_EQ(percents[199], 100);
  EXPECT_EQ(percents[200], 101);
  EXPECT_EQ(lastShown[200], 100);  // drawn but not stored
  // One repaint per new percentage: 0..100 once each, then 101.
  std::vector<int> expected;
  for (int p = 0; p <= 101; ++p) expected.push_back(p);
  EXPECT_EQ(ui.progressDrawn, expected);
}

TEST_F(ProgressTest, CancelAtTheFirstTickSuspends) {
  platform.CancelAtPoll(1);
  StartProgress(10);
  EXPECT_TRUE(StepProgress());
  EXPECT_TRUE(Progress().suspended);
  EXPECT_EQ(Progress().count, 0);
  EXPECT_TRUE(ui.progressDrawn.empty());

  platform.CancelAtPoll(0);
  EXPECT_FALSE(StepProgress());  // suspended ticks neither count nor draw
  EXPECT_EQ(Progress().count, 0);
  StartProgress(10);  // a new start resumes
  EXPECT_FALSE(Progress().suspended);
  EXPECT_FALSE(StepProgress());
  EXPECT_EQ(Progress().count, 1);
}

TEST_F(ProgressTest, ThrowingTickUnwindsWithoutSuspending) {
  StartProgress(4);
  StepProgressOrThrow();
  platform.CancelAtPoll(1);
  EXPECT_THROW(StepProgressOrThrow(), Cancelled);
  EXPECT_FALSE(Progress().suspended);
  EXPECT_EQ(Progress().count, 1);
}

TEST_F(ProgressTest, SuspendedTicksAreIgnoredUntilResumed) {
  StartProgress(100);
  SuspendProgress();
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(StepProgress());
  EXPECT_EQ(Progress().count, 0);
  ResumeProgress();
  EXPECT_FALSE(StepProgress());
  EXPECT_EQ(Progress().count, 1);
}

TEST_F(ProgressTest, StatusTextGoesToItsPane) {
  SetStatusText("Iteration 3", 4);
  EXPECT_EQ(ui.paneText[4], "Iteration 3");
}

TEST_F(ProgressTest, BatchedTicksEndAsSingleTicksDo) {
  // Batches of every length, over totals whose percentages change every tick, every few
  // ticks and past 100: the same count, percentage and repaints as one tick at a time.
  for (float total : {7.0f, 200.0f, 1234.0f, 50000.0f}) {
    for (int64_t batch : {1, 2, 3, 17, 1000, 70000}) {
      const int64_t ticks = int64_t(total * 1.3f);
      StartProgress(total);
      for (int64_t i = 0; i < ticks; ++i) ASSERT_FALSE(StepProgress());
      const ProgressState single = Progress();
      const std::vector<int> drawn = ui.progressDrawn;
      ui.progressDrawn.clear();
      StartProgress(total);
      for (int64_t done = 0; done < ticks; done += batch)
        ASSERT_FALSE(StepProgressBy(std::min(batch, ticks - done)));
      EXPECT_EQ(Progress().count, single.count) << total << " " << batch;
      EXPECT_EQ(Progress().percent, single.percent) << total << " " << batch;
      EXPECT_EQ(Progress().lastShown, single.lastShown) << total << " " << batch;
      EXPECT_EQ(ui.progressDrawn, drawn) << total << " " << batch;
      ui.progressDrawn.clear();
    }
  }
}

TEST_F(ProgressTest, BatchedTicksPollOnceAndCountNothingOnACancel) {
  StartProgress(100);
  EXPECT_FALSE(StepProgressBy(0));  // nothing to issue: no poll
  EXPECT_FALSE(StepProgressBy(10));
  EXPECT_EQ(platform.polls, 1);
  platform.CancelAtPoll(1);
  EXPECT_TRUE(StepProgressBy(10));
  EXPECT_TRUE(Progress().suspended);
  EXPECT_EQ(Progress().count, 10);
  platform.CancelAtPoll(0);
  EXPECT_FALSE(StepProgressBy(5));  // suspended: nothing counts
  EXPECT_EQ(Progress().count, 10);
}
