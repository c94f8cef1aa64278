#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "main/host_info.h"
#include "support/test_support.h"

namespace {

unsigned slept_us = 0;
void fake_sleep(unsigned us) { slept_us += us; }

TEST(HostInfo, ProgressBarDrawsHundredAndOneFramesEndingAt99) {
  slept_us = 0;
  std::string out = capture_stdout([] { draw_progress_bar(fake_sleep); });
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), '\n');
  std::vector<std::string> frames;
  std::stringstream s(out.substr(0, out.size() - 1));
  for (std::string frame; std::getline(s, frame, '\r');) frames.push_back(frame);
  ASSERT_EQ(frames.size(), 101u);
  EXPECT_EQ(slept_us, 101u * 10000u);
  EXPECT_EQ(frames.front(), "[>" + std::string(69, ' ') + "] 0 %");
  // Single-precision steps of 0.01 fall just short of one half here.
  EXPECT_EQ(frames[50], "[" + std::string(34, '=') + ">" + std::string(35, ' ') + "] 49 %");
  EXPECT_EQ(frames.back(), "[" + std::string(69, '=') + ">] 99 %");
}

TEST(HostInfo, MemoryTotalIsNotWrappedToZero) {
  // This machine has several GiB: a 32-bit product would wrap.
  long mib = get_mem_total();
  EXPECT_GT(mib, 0);
}

}  // namespace
