#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "main/config.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "support/test_support.h"

namespace {

class SupervisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_online = 0;
    master_timer = 0;
    motorola_repeater_online = 0;
    Start_rdac = 0;
    strcpy(MasterIP, "127.0.0.1");
    Local_Repeater_audio_srv_sock = -1;  // logins are counted from the log
  }

  // Runs one turn; true when it logged in to the network master.
  bool turn() {
    std::string out = capture_stdout([] { supervision_turn(); });
    bool login = out.find(" Sende Anmeldung an DMR Master  IP:127.0.0.1\n") != std::string::npos;
    if (login) {
      EXPECT_EQ(Start_rdac, 1);
    }
    return login;
  }
};

TEST_F(SupervisionTest, NoLoginWhileTheRepeaterNeverAnswered) {
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(turn());
  EXPECT_EQ(master_online, 0);
}

TEST_F(SupervisionTest, SilentMasterIsLoggedInEvery29Turns) {
  std::vector<int> login_turns;
  for (int i = 0; i < 100; ++i) {
    motorola_repeater_online = 20;  // the repeater answers every keep-alive
    if (turn()) login_turns.push_back(i);
    if (i == 0) {
      EXPECT_EQ(master_timer, 29);
    }
  }
  ASSERT_EQ(login_turns.size(), 4u);
  for (size_t k = 1; k < login_turns.size(); ++k) EXPECT_EQ(login_turns[k] - login_turns[k - 1], 29);
}

TEST_F(SupervisionTest, EchoesKeepTheLoginAlive) {
  int logins = 0;
  for (int i = 0; i < 100; ++i) {
    motorola_repeater_online = 20;
    if (i > 0 && master_timer > 0) master_timer = 15;  // an "A" echo arrived
    if (turn()) ++logins;
  }
  EXPECT_EQ(logins, 1);
  EXPECT_EQ(master_online, 1);
}

TEST_F(SupervisionTest, OneLastLoginAfterTheRepeaterFallsSilent) {
  motorola_repeater_online = 20;  // the last keep-alive answer
  std::vector<int> logins;
  for (int n = 1; n <= 60; ++n) {  // n-th turn after that answer
    if (turn()) logins.push_back(n);
    if (n == 18) {
      EXPECT_EQ(master_online, 1);
    }
    if (n == 19) {
      EXPECT_EQ(motorola_repeater_online, 1);
      EXPECT_EQ(master_online, 0);
    }
  }
  ASSERT_EQ(logins.size(), 2u);
  EXPECT_EQ(logins[0], 1);
  EXPECT_EQ(logins[1], 20);
  EXPECT_EQ(motorola_repeater_online, 0);
  EXPECT_EQ(master_online, 0);
}

TEST_F(SupervisionTest, LoginDatagramIsTheSingleByteA) {
  LoopbackSocket sender;
  Local_Repeater_audio_srv_sock = sender.fd();
  LoopbackSocket* master = nullptr;
  try {
    master = new LoopbackSocket(LISTEN_REPEATER_AUDIO_PORT);
  } catch (...) {
    GTEST_SKIP() << "port 62006 is in use";
  }
  motorola_repeater_online = 5;
  EXPECT_TRUE(turn());
  std::vector<unsigned char> got = master->receive(1000);
  EXPECT_EQ(got, std::vector<unsigned char>{'A'});
  delete master;
  Local_Repeater_audio_srv_sock = -1;
}

}  // namespace
