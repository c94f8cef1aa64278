// The real daemon binary on loopback: configuration errors, the start-up
// output and the socket-failure path.
#include <gtest/gtest.h>

#include <string>

#include "testbed/daemon_runner.h"
#include "support/test_support.h"

namespace {

std::string loopback_config(int repeater_port) {
  return "RptrCall=DB0TST\nRptrID=262999\nRptrIP=127.0.0.1\nRptrPort=" + std::to_string(repeater_port) +
         "\nMasterIP=127.0.0.1\nRptrQRGtx=439500000\nRptrQRGrx=431900000\n"
         "MyBridgeID=262998\nNetworkKey=abcd\n";
}

// A free UDP port for the daemon's Motorola-side socket.
int free_port() {
  LoopbackSocket probe;
  return probe.port();
}

TEST(E2eDaemon, MissingConfigurationEndsTheProcessWithStatusZero) {
  ScratchDir dir;
  DaemonRunner daemon(dir.path());
  EXPECT_EQ(daemon.wait_exit(10000), 0);
  std::string out = daemon.output();
  EXPECT_EQ(out.rfind("Date: ", 0), 0u);
  EXPECT_NE(out.find("\nInitialize Golay-23-12 table\nRead Configfile vexaqv.cfg\n"
                     "Can not read Configfile vexaqv.cfg\n"),
            std::string::npos);
}

TEST(E2eDaemon, InvalidConfigurationShowsEveryProblemThenEnds) {
  ScratchDir dir;
  std::string cfg = loopback_config(free_port());
  cfg.replace(cfg.find("RptrCall=DB0TST"), 15, "RptrCall=AB");
  cfg.replace(cfg.find("RptrID=262999"), 13, "RptrID=0");
  dir.write_file("vexaqv.cfg", cfg);
  DaemonRunner daemon(dir.path());
  EXPECT_EQ(daemon.wait_exit(10000), 0);
  std::string out = daemon.output();
  EXPECT_NE(out.find("RptrCall [AB], has more than 8 characters!\nError in RptrID=[0]\n"), std::string::npos);
  EXPECT_NE(out.find("Configuration file invalid... (7)\nCan not read Configfile vexaqv.cfg\n"), std::string::npos);
}

TEST(E2eDaemon, ValidConfigurationStartsAndKeepsRunning) {
  ScratchDir dir;
  dir.write_file("vexaqv.cfg", loopback_config(free_port()));
  DaemonRunner daemon(dir.path());
  ASSERT_TRUE(daemon.wait_for("Start Local Repeater Modul  V1.34\n", 15000)) << daemon.output();
  EXPECT_TRUE(daemon.running());
  std::string out = daemon.output();
  EXPECT_NE(out.find("KeyBytes={00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:ab:cd}\n"
                     "AMBE Error Correction not activated\n"
                     "\n\nVEXAQuorvix 1.00 initialized...entering processing id \n"
                     "\033[4;32mTIMER SET Please Wait\033[0m, \033[1;36m8sek\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("] 99 %\r\n\033[0m\033[1;32m[ OK ]\033[0m Initializing...\n\n"), std::string::npos);
  EXPECT_NE(out.find("\033[1m[INFO]\033[0m CPU name: "), std::string::npos);
  EXPECT_NE(out.find("\033[1m[INFO]\033[0m CPU speed: "), std::string::npos);
  EXPECT_NE(out.find("Vorhandener Arbeitsspeicher: "), std::string::npos);
  EXPECT_NE(out.find("Start Repeater RDAC  Modul  V1.01\n"), std::string::npos);
  EXPECT_NE(out.find("Start Moto           Modul  V0.01\n"), std::string::npos);
}

TEST(E2eDaemon, TakenServicePortSkipsTheBannerButKeepsRunning) {
  LoopbackSocket* blocker = nullptr;
  try {
    blocker = new LoopbackSocket(62005);
  } catch (...) {
    GTEST_SKIP() << "port 62005 is already in use";
  }
  ScratchDir dir;
  dir.write_file("vexaqv.cfg", loopback_config(free_port()));
  DaemonRunner daemon(dir.path());
  ASSERT_TRUE(daemon.wait_for("Start Local Repeater Modul  V1.34\n", 15000)) << daemon.output();
  std::string out = daemon.output();
  EXPECT_NE(out.find("AMBE Error Correction not activated\n"
                     "Failed to bind server socket on IP 0.0.0.0, port 62005, errno=98\n"
                     "* Local_Repeater_srv_open() failed\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("VEXAQuorvix"), std::string::npos);
  EXPECT_EQ(out.find("[ OK ]"), std::string::npos);
  EXPECT_EQ(out.find("CPU name"), std::string::npos);
  EXPECT_FALSE(daemon.wait_for("Program stopped", 1500));
  EXPECT_TRUE(daemon.running());
  delete blocker;
}

}  // namespace
