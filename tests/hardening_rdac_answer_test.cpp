// The RDAC answer handler on its own, as the fuzz target drives it: only a
// 24-byte answer while logged in ends the announcement schedule.
#include <gtest/gtest.h>

#include "master_link/rdac.h"
#include "main/supervision.h"
#include "support/test_support.h"

TEST(HardeningRdacAnswer, OnlyA24ByteAnswerWhileLoggedInEndsTheSchedule) {
  const struct {
    long length;
    int online;
    int schedule_after;
  } cases[] = {
      {24, 1, 0}, {23, 1, 3}, {25, 1, 3}, {24, 0, 3}, {-1, 1, 3}, {0, 1, 3}, {300, 1, 3},
  };
  for (const auto& c : cases) {
    Start_rdac = 3;
    master_online = c.online;
    std::string out = capture_stdout([&] { rdac_handle_answer(c.length); });
    EXPECT_EQ(Start_rdac, c.schedule_after) << c.length << " online " << c.online;
    EXPECT_EQ(out, c.schedule_after == 0 ? "Local_Repeater_rdac \n" : "") << c.length;
  }
  master_online = 0;
  Start_rdac = 0;
}
