// The real daemon against a simulated Motorola repeater and network master.
// The daemon binds the repeater's port number locally, so the two sides need
// separate hosts: two network namespaces joined by a veth pair, 192.0.2.1 for
// the bridge and 192.0.2.2 for both simulated peers. Needs root.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../sim/common/dmr_burst_decoder.h"
#include "coding/decode48bit.h"
#include "support/daemon_runner.h"
#include "support/test_support.h"
#include "support/voice_packets.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kRepeaterPort = 50000;
const unsigned char kKey[20] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xab, 0xcd};

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Two namespaces joined by a veth pair; removed again on destruction.
class TestNetwork {
 public:
  TestNetwork() {
    std::string id = std::to_string(getpid());
    bridge_ns = "mbt_b" + id;
    peer_ns = "mbt_p" + id;
    std::string vb = "mbtb" + id, vp = "mbtp" + id;
    ok = geteuid() == 0 && run("ip netns add " + bridge_ns) && run("ip netns add " + peer_ns) &&
         run("ip link add " + vb + " type veth peer name " + vp) &&
         run("ip link set " + vb + " netns " + bridge_ns) &&
         run("ip link set " + vp + " netns " + peer_ns) &&
         run("ip -n " + bridge_ns + " addr add 192.0.2.1/24 dev " + vb) &&
         run("ip -n " + peer_ns + " addr add 192.0.2.2/24 dev " + vp) &&
         run("ip -n " + bridge_ns + " link set " + vb + " up") &&
         run("ip -n " + peer_ns + " link set " + vp + " up") &&
         run("ip -n " + bridge_ns + " link set lo up") && run("ip -n " + peer_ns + " link set lo up");
  }
  ~TestNetwork() {
    run("ip netns del " + bridge_ns);
    run("ip netns del " + peer_ns);
  }
  bool ok = false;
  std::string bridge_ns, peer_ns;
};

// A UDP socket of the simulated peers, bound to 192.0.2.2 in the peer namespace.
class PeerSocket {
 public:
  PeerSocket(const std::string& netns, int port) {
    // setns affects only the calling thread, so the socket is made on a
    // thread of its own; it stays in that namespace afterwards.
    std::thread maker([&] {
      int ns = open(("/var/run/netns/" + netns).c_str(), O_RDONLY);
      if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) return;
      close(ns);
      fd_ = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = inet_addr("192.0.2.2");
      a.sin_port = htons(static_cast<uint16_t>(port));
      if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd_);
        fd_ = -1;
      }
    });
    maker.join();
  }
  ~PeerSocket() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

  // Next datagram within timeout_ms (empty on timeout); sender into *from.
  Bytes receive(int timeout_ms, sockaddr_in* from = nullptr) const {
    return receive_datagram(fd_, timeout_ms, from);
  }

  // Waits for a datagram whose first byte is opcode (or of the given length).
  Bytes receive_matching(int timeout_ms, int opcode, size_t length = 0) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count());
      Bytes d = receive(left > 0 ? left : 1);
      if (d.empty()) continue;
      if ((opcode < 0 || d[0] == opcode) && (length == 0 || d.size() == length)) return d;
    }
    return {};
  }

  // What goes to the bridge's IPSC port is signed as a repeater signs it:
  // the last 10 bytes become the trailer over the bytes before them.
  void send_to_bridge(int port, Bytes data) const {
    if (port == kRepeaterPort && data.size() > 10) {
      unsigned char digest[20];
      unsigned int len = 0;
      HMAC(EVP_sha1(), kKey, sizeof kKey, data.data(), data.size() - 10, digest, &len);
      std::copy(digest, digest + 10, data.end() - 10);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("192.0.2.1");
    a.sin_port = htons(static_cast<uint16_t>(port));
    sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }

 private:
  int fd_ = -1;
};

bool signed_with_key(const Bytes& d) {
  if (d.size() <= 10) return false;
  unsigned char digest[20];
  unsigned int len = 0;
  HMAC(EVP_sha1(), kKey, sizeof kKey, d.data(), d.size() - 10, digest, &len);
  return Bytes(d.end() - 10, d.end()) == Bytes(digest, digest + 10);
}

std::string bridge_config() {
  return "RptrCall=DB0TST\nRptrID=66051\nRptrIP=192.0.2.2\nRptrPort=" +
         std::to_string(kRepeaterPort) +
         "\nMasterIP=192.0.2.2\nRptrQRGtx=439500000\nRptrQRGrx=431900000\n"
         "MyBridgeID=262998\nNetworkKey=abcd\n";
}

TEST(E2eNetwork, RegistersKeepsAliveLogsInAndAnnounces) {
  TestNetwork net;
  if (!net.ok) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  PeerSocket repeater(net.peer_ns, kRepeaterPort);
  PeerSocket master_voice(net.peer_ns, 62006);
  PeerSocket master_rdac(net.peer_ns, 62007);
  ASSERT_TRUE(repeater.ok() && master_voice.ok() && master_rdac.ok());

  ScratchDir dir;
  dir.write_file("vexaqv.cfg", bridge_config());
  DaemonRunner daemon(dir.path(), net.bridge_ns);

  // Registration request, signed, right after the threads start.
  sockaddr_in bridge_addr{};
  Bytes registration = repeater.receive(15000, &bridge_addr);
  ASSERT_EQ(registration.size(), 24u) << daemon.output();
  EXPECT_EQ(registration[0], 0x90);
  EXPECT_EQ(Bytes(registration.begin() + 1, registration.begin() + 6),
            Bytes({0x00, 0x04, 0x03, 0x56, 0x62}));
  EXPECT_TRUE(signed_with_key(registration));
  EXPECT_EQ(ntohs(bridge_addr.sin_port), kRepeaterPort);

  // The registration reply (26 bytes) is answered with the peer-list request.
  Bytes reply(26, 0);
  reply[0] = 0x91;
  repeater.send_to_bridge(kRepeaterPort, reply);
  Bytes peer_list_request = repeater.receive_matching(2000, 0x92);
  ASSERT_EQ(peer_list_request.size(), 15u);
  EXPECT_TRUE(signed_with_key(peer_list_request));

  // No login before the repeater has answered a keep-alive.
  EXPECT_TRUE(master_voice.receive(1500).empty());

  // The keep-alive request comes about 5 s after start; answering it makes
  // the bridge log in to the network master.
  Bytes keep_alive = repeater.receive_matching(8000, 0x96);
  ASSERT_EQ(keep_alive.size(), 24u);
  EXPECT_TRUE(signed_with_key(keep_alive));
  Bytes answer(24, 0);
  answer[0] = 0x97;
  repeater.send_to_bridge(kRepeaterPort, answer);
  sockaddr_in from{};
  Bytes login = master_voice.receive(3000, &from);
  EXPECT_EQ(login, Bytes{'A'});
  EXPECT_EQ(ntohs(from.sin_port), 62006);
  EXPECT_TRUE(daemon.wait_for(" Sende Anmeldung an DMR Master  IP:192.0.2.2\n", 2000));

  // About 6 s after the login the first RDAC announcement: 225 then 71 bytes
  // from the bridge's port 62006.
  Bytes rdac1 = master_rdac.receive(9000, &from);
  Bytes rdac2 = master_rdac.receive(2000);
  ASSERT_EQ(rdac1.size(), 225u);
  ASSERT_EQ(rdac2.size(), 71u);
  EXPECT_EQ(ntohs(from.sin_port), 62006);
  EXPECT_EQ(Bytes(rdac2.begin() + 18, rdac2.begin() + 22), Bytes({0x03, 0x02, 0x01, 0x56}));
  EXPECT_TRUE(daemon.wait_for("Local_Repeater_rdac 2\n", 2000));

  // Other peers are answered at their own address.
  Bytes peer_login(20, 0);
  peer_login[0] = 0x94;
  peer_login[4] = 7;
  repeater.send_to_bridge(kRepeaterPort, peer_login);
  Bytes peer_95 = repeater.receive_matching(2000, 0x95);
  EXPECT_EQ(peer_95.size(), 19u);
  EXPECT_TRUE(signed_with_key(peer_95));
  EXPECT_TRUE(daemon.wait_for("Login PEER-ID:7 from IP:192.0.2.2\n", 2000));
  EXPECT_TRUE(daemon.running());
}

// One call each way through the running daemon. Motorola voice crosses
// whether or not the network master is logged in, and the Motorola side is
// reachable as soon as the repeater has sent anything.
TEST(E2eNetwork, CallsCrossBothWays) {
  TestNetwork net;
  if (!net.ok) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  PeerSocket repeater(net.peer_ns, kRepeaterPort);
  PeerSocket master_voice(net.peer_ns, 62006);
  ASSERT_TRUE(repeater.ok() && master_voice.ok());
  ScratchDir dir;
  dir.write_file("vexaqv.cfg", bridge_config());
  DaemonRunner daemon(dir.path(), net.bridge_ns);
  ASSERT_EQ(repeater.receive_matching(15000, 0x90).size(), 24u) << daemon.output();
  repeater.send_to_bridge(kRepeaterPort, Bytes(26, 0));
  ASSERT_EQ(repeater.receive_matching(2000, 0x92).size(), 15u);
  init_Golay_23_12();  // for the test's own decoding below
  std::mt19937 rng(42);
  const voicetest::Call call{3100001, 2623, false, true};

  // Motorola to Hytera: sync, header, two superframes, end.
  std::vector<Bytes> moto_call = {voicetest::moto_header(call, 1, 0xDD), voicetest::moto_header(call, 2, 0x5D)};
  std::vector<voicetest::BurstFrames> sent_frames;
  for (unsigned int i = 0; i < 12; ++i) {
    sent_frames.push_back(voicetest::random_burst(rng));
    moto_call.push_back(voicetest::moto_burst(call, static_cast<uint16_t>(3 + i), i % 6 + 1, sent_frames.back()));
  }
  moto_call.push_back(voicetest::moto_terminator(call, 15));
  for (const Bytes& d : moto_call) {
    repeater.send_to_bridge(kRepeaterPort, d);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::vector<Bytes> hytera;
  for (Bytes d; (d = master_voice.receive_matching(2000, -1, 72)).size() == 72;) {
    hytera.push_back(d);
    if (hytera.size() == moto_call.size()) break;
  }
  ASSERT_EQ(hytera.size(), moto_call.size()) << daemon.output();
  EXPECT_EQ(hytera.front()[8], 0x02);
  EXPECT_EQ(hytera[1][19], 0x11);
  EXPECT_EQ(hytera.back()[8], 0x03);
  unsigned char head[3], dest[3], src[3];
  int lc_blocks = 0;
  for (unsigned int i = 0; i < 12; ++i) {
    const Bytes& p = hytera[2 + i];
    voicetest::BurstFrames frames{};
    ASSERT_TRUE(voicetest::decode_hytera_frames(p, &frames));
    EXPECT_EQ(frames, sent_frames[i]) << i;
    dmrtest::Burst air{};
    hyt_get_burst(p.data(), air.data());
    const unsigned int position = i % 6;
    if (position == 0) {
      EXPECT_EQ(dmrtest::get_bits(air.data(), 108, 48), dmrtest::kVoiceSyncBs);
      continue;
    }
    const uint8_t lcss[6] = {0, 1, 3, 3, 2, 0};
    const uint16_t emb = static_cast<uint16_t>(dmrtest::get_bits(air.data(), 108, 8) << 8 |
                                               dmrtest::get_bits(air.data(), 148, 8));
    EXPECT_EQ(emb, dmrtest::emb_codeword(1, 0, lcss[position])) << i;
    unsigned char fragment[32];
    for (unsigned int k = 0; k < 32; ++k) fragment[k] = static_cast<unsigned char>(dmrtest::get_bit(air.data(), 116 + k));
    if (lcss[position] != 0 && capture_stdout([&] {
          if (addData(fragment, lcss[position], head, dest, src) == 1) ++lc_blocks;
        }) != "") {
      ADD_FAILURE() << "embedded LC decoder complained at burst " << i;
    }
  }
  EXPECT_EQ(lc_blocks, 2);
  EXPECT_EQ(Bytes(dest, dest + 3), Bytes({0x00, 0x0A, 0x3F}));
  EXPECT_EQ(Bytes(src, src + 3), Bytes({0x2F, 0x4D, 0x61}));
  EXPECT_TRUE(daemon.wait_for(" Moto RX+ slot:2 destination_id:2623 source_id:3100001 rptr_id:12345\n", 2000));

  // Hytera to Motorola: header, six bursts 60 ms apart, end.
  std::vector<Bytes> network_call = {voicetest::hytera_header(call, 1)};
  sent_frames.clear();
  for (unsigned int position = 1; position <= 6; ++position) {
    sent_frames.push_back(voicetest::random_burst(rng));
    network_call.push_back(voicetest::hytera_burst(call, static_cast<uint16_t>(1 + position), position, sent_frames.back()));
  }
  network_call.push_back(voicetest::hytera_end(call, 8));
  for (const Bytes& d : network_call) {
    master_voice.send_to_bridge(62006, d);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  const size_t lengths[] = {66, 62, 67, 67, 67, 76, 67, 64};
  for (size_t i = 0; i < network_call.size(); ++i) {
    Bytes d = repeater.receive_matching(2000, 0x80);
    ASSERT_EQ(d.size(), lengths[i]) << i << daemon.output();
    EXPECT_TRUE(signed_with_key(d)) << i;
    if (i >= 1 && i <= 6) {
      EXPECT_EQ(voicetest::moto_frames(d), sent_frames[i - 1]) << i;
    }
  }
  EXPECT_TRUE(daemon.wait_for(" PTT OFF 1\n", 2000));
  EXPECT_TRUE(daemon.running());
}

}  // namespace
