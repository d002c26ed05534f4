// Window events are processed only where they belong: on the thread that
// installed the pump, and never inside a run's step.
#include "hooks/Events.h"

#include <gtest/gtest.h>

#include <thread>

namespace lanshu {
namespace {

struct EventsTest : ::testing::Test {
  int pumped = 0;
  void SetUp() override { SetEventPump([this] { ++pumped; }); }
  void TearDown() override {
    SetEventPump(nullptr);
    SetEventWait(nullptr);
  }
};

TEST_F(EventsTest, OnlyTheInstallingThreadRunsThePumpAndItsWait) {
  int waited = 0;
  SetEventWait([&waited](int) { ++waited; });
  std::thread worker([] {
    ProcessPendingEvents();
    ProcessPendingEventsNow();
    WaitProcessingEvents(1);  // sleeps: the installed wait turns the window's loop
  });
  worker.join();
  EXPECT_EQ(pumped, 0);
  EXPECT_EQ(waited, 0);
  ProcessPendingEvents();
  WaitProcessingEvents(1);
  EXPECT_EQ(pumped, 2);
  EXPECT_EQ(waited, 1);
}

TEST_F(EventsTest, APauseHoldsThePumpUntilItEndsButNotTheWaits) {
  {
    const EventPumpPause outer;
    {
      const EventPumpPause inner;
      ProcessPendingEvents();
    }
    ProcessPendingEvents();
    EXPECT_EQ(pumped, 0);
    ProcessPendingEventsNow();  // a wait's own step between sleeps still runs
    EXPECT_EQ(pumped, 1);
  }
  ProcessPendingEvents();
  EXPECT_EQ(pumped, 2);
}

}  // namespace
}  // namespace lanshu
