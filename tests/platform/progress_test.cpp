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
