// qyrsend's rules, and the sender against small servers of the test's own on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "net.h"
#include "sender.h"

namespace qyrsend {
namespace {

TEST(QyrsendArgs, AcceptsTheDocumentedForms) {
  struct Case {
    std::vector<std::string> args;
    Transport transport;
    int port;
    int timeout;
    bool crlf;
    std::vector<std::string> hosts;
    std::string hosts_file;
    std::string command;
  };
  const Case cases[] = {
      {{"10.0.0.5", "QyrNOR_PC_CHECK"},
       Transport::Tcp,
       26908,
       2000,
       false,
       {"10.0.0.5"},
       "",
       "QyrNOR_PC_CHECK"},
      {{"--udp", "--port", "9000", "--timeout", "150", "a,b:77", "QyrNOR_PC_OFF"},
       Transport::Udp,
       9000,
       150,
       false,
       {"a", "b:77"},
       "",
       "QyrNOR_PC_OFF"},
      {{"--hosts", "hall.txt", "--crlf", "QyrNOR_PC_TEST"},
       Transport::Tcp,
       26908,
       2000,
       true,
       {},
       "hall.txt",
       "QyrNOR_PC_TEST"},
      {{"--hosts", "hall.txt", "extra", "QyrNOR_PC_TEST"},
       Transport::Tcp,
       26908,
       2000,
       false,
       {"extra"},
       "hall.txt",
       "QyrNOR_PC_TEST"},
      {{"h", "--", "-odd"}, Transport::Tcp, 26908, 2000, false, {"h"}, "", "-odd"},
  };
  for (const Case& c : cases) {
    const ParsedArgs parsed = ParseArgs(c.args);
    ASSERT_TRUE(parsed.options) << c.args.front() << ": " << parsed.error;
    const Options& o = *parsed.options;
    EXPECT_EQ(o.transport, c.transport);
    EXPECT_EQ(o.port, c.port);
    EXPECT_EQ(o.timeout_ms, c.timeout);
    EXPECT_EQ(o.crlf, c.crlf);
    EXPECT_EQ(o.hosts, c.hosts);
    EXPECT_EQ(o.hosts_file, c.hosts_file);
    EXPECT_EQ(o.command, c.command);
  }
}

TEST(QyrsendArgs, RejectsWhatCannotBeSent) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"QyrNOR_PC_CHECK"},  // no host
      {"h", "c", "d"},
      {"--port", "0", "h", "c"},
      {"--port", "65536", "h", "c"},
      {"--port", "12x", "h", "c"},
      {"--timeout", "0", "h", "c"},
      {"--timeout", "-5", "h", "c"},
      {"--timeout"},
      {"--hosts"},
      {"--bogus", "h", "c"},
      {"h", ""},    // empty command
      {",,", "c"},  // no host in the list
      {"--wake"},   // no MAC
      {"--wake", "a", "b"},
      {"--wake", "--udp", "aa:bb:cc:dd:ee:ff"},
      {"--wake", "--broadcast"},
      {"--wake", "--broadcast", "hall-net", "aa:bb:cc:dd:ee:ff"},
      {"--wake", "--repeat", "0", "aa:bb:cc:dd:ee:ff"},
      {"--wake", "--repeat", "101", "aa:bb:cc:dd:ee:ff"},
      {"--wake", "--repeat", "3x", "aa:bb:cc:dd:ee:ff"},
      {"--wake", "aa:bb:cc:dd:ee:ff", "--repeat"},
      {"--repeat", "2", "h", "QyrNOR_PC_CHECK"},  // only packets to wake are repeated
  };
  for (const auto& args : cases) {
    const ParsedArgs parsed = ParseArgs(args);
    EXPECT_FALSE(parsed.options) << (args.empty() ? "(none)" : args.front());
    EXPECT_FALSE(parsed.error.empty());
  }
}

TEST(QyrsendWake, TakesMacsInEitherFormAndDefaultsToTheWakePortAndBroadcast) {
  const struct {
    const char* text;
    std::optional<Mac> mac;
  } macs[] = {
      {"aa:bb:cc:dd:ee:ff", Mac{0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}},
      {"00-1A-2b-3C-4d-5E", Mac{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
      {"aa:bb:cc:dd:ee", std::nullopt},
      {"aa:bb:cc:dd:ee:ff:00", std::nullopt},
      {"aa:bb-cc:dd:ee:ff", std::nullopt},  // one separator throughout
      {"ga:bb:cc:dd:ee:ff", std::nullopt},
      {"aabb.ccdd.eeff", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : macs) EXPECT_EQ(ParseMac(c.text), c.mac) << c.text;

  const ParsedArgs plain = ParseArgs({"--wake", "aa:bb:cc:dd:ee:ff,00-11-22-33-44-55"});
  ASSERT_TRUE(plain.options) << plain.error;
  EXPECT_EQ(plain.options->port, kDefaultWakePort);
  EXPECT_EQ(plain.options->broadcast, 0xFFFFFFFFu);
  EXPECT_EQ(plain.options->repeat, 3);
  EXPECT_EQ(plain.options->command, "aa:bb:cc:dd:ee:ff,00-11-22-33-44-55");
  const ParsedArgs aimed = ParseArgs({"--wake", "--broadcast", "192.168.1.255", "--port", "7",
                                      "--repeat", "1", "--hosts", "hall.txt"});
  ASSERT_TRUE(aimed.options) << aimed.error;
  EXPECT_EQ(aimed.options->port, 7);
  EXPECT_EQ(aimed.options->repeat, 1);
  EXPECT_EQ(aimed.options->broadcast, 0xC0A801FFu);
  EXPECT_EQ(aimed.options->hosts_file, "hall.txt");

  // A hosts file line may carry the PC's MAC after its address; only --wake takes it.
  std::string error;
  const auto from_file = MacsOf(
      SplitHosts("192.168.1.21 aa:bb:cc:dd:ee:ff  # left\n192.168.1.22:26908 AA-BB-CC-DD-EE-01\n"
                 "hall-pc-3\n"),
      error);
  ASSERT_TRUE(from_file) << error;
  EXPECT_EQ(*from_file, (std::vector<Mac>{{0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
                                          {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x01}}));
  // An editor's byte-order mark before the first MAC does not hide it.
  const auto after_bom = MacsOf(SplitHosts(WithoutBom("\xEF\xBB\xBF"
                                                      "aa:bb:cc:dd:ee:ff\n")),
                                error);
  ASSERT_TRUE(after_bom) << error;
  EXPECT_EQ(*after_bom, (std::vector<Mac>{{0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}}));
  EXPECT_EQ(WithoutBom("10.0.0.1"), "10.0.0.1");
  EXPECT_FALSE(MacsOf({"10.0.0.1", "zz:bb:cc:dd:ee:ff"}, error));
  EXPECT_EQ(error, "malformed MAC zz:bb:cc:dd:ee:ff");
  EXPECT_EQ(WakeReport({{1, 2, 3, 4, 5, 0xab}, {0, 0, 0, 0, 0, 0}}, {"", "Network is unreachable"}),
            "01:02:03:04:05:ab  sent\n00:00:00:00:00:00  error: Network is unreachable\n");
  EXPECT_EQ(WakeExitCode({"", ""}), 0);
  EXPECT_EQ(WakeExitCode({"", "x"}), 1);
}

TEST(QyrsendWake, AHostsLineEndingInNeitherAHostNorAMacIsNamed) {
  const struct {
    const char* text;
    std::optional<std::string> bad;
  } cases[] = {
      {"192.168.1.21 aa:bb:cc:dd:ee:ff  # left\r\n192.168.1.22\r\n", std::nullopt},
      {"# hall\n\naa-bb-cc-dd-ee-01\npc-3:26908\nhall_pc.local\n展厅电脑\n", std::nullopt},
      {"10.0.0.1, 10.0.0.2\n12345\n", std::nullopt},
      {"10.0.0.1 aa:bb:cc:dd:ee:ff\n10.0.0.2 aa:bb:cc:dd:ee:2\n",
       "line 2: aa:bb:cc:dd:ee:2 is neither a host nor a MAC"},
      {"10.0.0.3 aabbccddee03 # right\n", "line 1: aabbccddee03 is neither a host nor a MAC"},
      {"\n\n10.0.0.4 aa-bb-cc-dd-ee-4\n", "line 3: aa-bb-cc-dd-ee-4 is neither a host nor a MAC"},
      {"10.0.0.5 aabb.ccdd.eeff\n", "line 1: aabb.ccdd.eeff is neither a host nor a MAC"},
      {"10.0.0.6 zz:bb:cc:dd:ee:ff\n", "line 1: zz:bb:cc:dd:ee:ff is neither a host nor a MAC"},
      {"192.168.1.300\n", "line 1: 192.168.1.300 is neither a host nor a MAC"},
      {"pc:0\n", "line 1: pc:0 is neither a host nor a MAC"},
      {"pc..hall\n", "line 1: pc..hall is neither a host nor a MAC"},
      {"pc$1\n", "line 1: pc$1 is neither a host nor a MAC"},
  };
  for (const auto& c : cases) EXPECT_EQ(BadWakeLine(c.text), c.bad) << c.text;
}

TEST(QyrsendHosts, SplitsListsAndFilesAndReadsPorts) {
  EXPECT_EQ(SplitHosts("a,b, c"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitHosts("# hall 1\r\n10.0.0.1\r\n\r\n10.0.0.2:9 # spare\n\tpc3;pc4"),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2:9", "pc3", "pc4"}));

  struct Case {
    std::string item;
    bool ok;
    std::string host;
    int port;
  };
  const Case cases[] = {
      {"10.0.0.1", true, "10.0.0.1", 26908},
      {"pc-7:80", true, "pc-7", 80},
      {"pc:0", false, "", 0},
      {"pc:", false, "", 0},
      {":80", false, "", 0},
      {"::1", false, "", 0},
      {"pc:99999", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto target = ParseTarget(c.item, kDefaultPort, error);
    ASSERT_EQ(target.has_value(), c.ok) << c.item;
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(target->label, c.item);
    EXPECT_EQ(target->host, c.host);
    EXPECT_EQ(target->port, c.port);
  }
}

TEST(QyrsendReport, ClassifiesRepliesAndSetsTheExitCode) {
  EXPECT_EQ(ClassifyReply("OK")->verdict, Verdict::Ok);
  EXPECT_EQ(ClassifyReply("ERR")->verdict, Verdict::Err);
  EXPECT_FALSE(ClassifyReply("O"));
  EXPECT_FALSE(ClassifyReply("ER"));
  EXPECT_EQ(ClassifyReply("OKERR")->verdict, Verdict::Unexpected);
  EXPECT_EQ(ClassifyReply("ok")->verdict, Verdict::Unexpected);

  const std::vector<Target> targets = {
      {"pc1", "pc1", 1}, {"10.0.0.22", "10.0.0.22", 1}, {"x", "x", 1}};
  EXPECT_EQ(Report(targets, {{Verdict::Ok, {}},
                             {Verdict::Unexpected, "A\r\n\"\x01"},
                             {Verdict::Error, "cannot resolve"}}),
            "pc1        OK\n"
            "10.0.0.22  reply \"A\\r\\n\\\"\\x01\"\n"
            "x          error: cannot resolve\n");

  using V = Verdict;
  struct Case {
    std::vector<V> verdicts;
    int code;
  };
  const Case cases[] = {
      {{V::Ok, V::Ok}, 0},      {{V::Ok, V::Err}, 1},
      {{V::Timeout}, 1},        {{V::Refused}, 1},
      {{V::Closed}, 1},         {{V::NoReply, V::NoReply}, 3},
      {{V::NoReply, V::Ok}, 3}, {{V::NoReply, V::Refused}, 1},
  };
  for (const Case& c : cases) {
    std::vector<Outcome> outcomes;
    for (V v : c.verdicts) outcomes.push_back({v, {}});
    EXPECT_EQ(ExitCode(outcomes), c.code);
  }
}

// A socket of the test's own on 127.0.0.1, closed with the test.
class LoopbackSocket {
 public:
  explicit LoopbackSocket(int type) : fd_(socket(AF_INET, type, 0)) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t len = sizeof(address);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &len);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackSocket() { Close(); }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;
  int fd() const { return fd_; }
  std::uint16_t port() const { return port_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  std::uint16_t port_ = 0;
};

// Accepts connections and answers each first message with `reply` (empty: close unanswered).
class TcpServer {
 public:
  explicit TcpServer(std::string reply) : socket_(SOCK_STREAM), reply_(std::move(reply)) {
    listen(socket_.fd(), 8);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TcpServer() {
    stop_ = true;
    shutdown(socket_.fd(), SHUT_RDWR);  // wakes accept()
    thread_.join();
  }
  std::uint16_t port() const { return socket_.port(); }
  const std::vector<std::string>& received() const { return received_; }

 private:
  void Serve() {
    while (!stop_) {
      const int peer = accept(socket_.fd(), nullptr, nullptr);
      if (peer < 0) return;
      char buffer[1024];
      const ssize_t n = recv(peer, buffer, sizeof(buffer), 0);
      if (n > 0) received_.emplace_back(buffer, static_cast<std::size_t>(n));
      if (!reply_.empty()) send(peer, reply_.data(), reply_.size(), MSG_NOSIGNAL);
      close(peer);
    }
  }
  LoopbackSocket socket_;
  std::string reply_;
  std::atomic<bool> stop_{false};
  std::vector<std::string> received_;
  std::thread thread_;
};

std::string Local(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

std::vector<Verdict> Send(const std::vector<std::string>& items, Transport transport,
                          const std::string& payload = "QyrNOR_PC_CHECK") {
  std::vector<Target> targets;
  for (const std::string& item : items) {
    std::string error;
    targets.push_back(*ParseTarget(item, kDefaultPort, error));
  }
  std::vector<Verdict> verdicts;
  for (const Outcome& o : SendToAll(targets, payload, transport, 500))
    verdicts.push_back(o.verdict);
  return verdicts;
}

TEST(QyrsendTcp, ReportsEachHostOfOneRunInItsOwnLine) {
  TcpServer ok("OK");
  TcpServer err("ERR");
  TcpServer mute("");
  LoopbackSocket silent(SOCK_STREAM);  // a backlog that never reads: connects, never answers
  listen(silent.fd(), 4);
  LoopbackSocket closed(SOCK_STREAM);  // bound, not listening: the connection is refused

  EXPECT_EQ(Send({Local(ok.port()), Local(err.port()), Local(silent.port()), Local(closed.port()),
                  Local(mute.port()), "name.invalid"},
                 Transport::Tcp),
            (std::vector<Verdict>{Verdict::Ok, Verdict::Err, Verdict::Timeout, Verdict::Refused,
                                  Verdict::Closed, Verdict::Error}));
}

TEST(QyrsendTcp, SendsTheCommandBytesExactly) {
  TcpServer ok("OK");
  ASSERT_EQ(Send({Local(ok.port())}, Transport::Tcp, "QyrNOR_PC_TEST\r\n"),
            std::vector<Verdict>{Verdict::Ok});
  EXPECT_EQ(ok.received(), std::vector<std::string>{"QyrNOR_PC_TEST\r\n"});
}

TEST(QyrsendUdp, TellsAnUnansweredDatagramFromARefusedPortAndReadsAReply) {
  LoopbackSocket quiet(SOCK_DGRAM);
  LoopbackSocket gone(SOCK_DGRAM);
  const std::uint16_t gone_port = gone.port();
  gone.Close();
  LoopbackSocket answering(SOCK_DGRAM);
  std::thread echo([&] {
    char buffer[64];
    sockaddr_in from = {};
    socklen_t len = sizeof(from);
    if (recvfrom(answering.fd(), buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from),
                 &len) > 0)
      sendto(answering.fd(), "OK", 2, 0, reinterpret_cast<sockaddr*>(&from), len);
  });

  EXPECT_EQ(Send({Local(quiet.port()), Local(gone_port), Local(answering.port())}, Transport::Udp),
            (std::vector<Verdict>{Verdict::NoReply, Verdict::Refused, Verdict::Ok}));
  echo.join();

  char buffer[64];
  const ssize_t n = recv(quiet.fd(), buffer, sizeof(buffer), MSG_DONTWAIT);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n > 0 ? n : 0)), "QyrNOR_PC_CHECK");
}

TEST(QyrsendWake, TheMagicPacketArrivesByteForByteAsOftenAsAsked) {
  LoopbackSocket waking(SOCK_DGRAM);
  const Mac mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
  const Mac other = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5f};
  const net::Library library;
  EXPECT_EQ(WakeAll({mac, other}, 0x7F000001, waking.port(), 3, std::chrono::milliseconds(100)),
            (std::vector<std::string>{"", ""}));
  std::string want(6, '\xFF');
  for (int i = 0; i < 16; ++i) want += std::string("\x00\x1a\x2b\x3c\x4d\x5e", 6);
  // Round by round: every MAC once, then all of them again.
  std::vector<std::string> got;
  char buffer[256];
  ssize_t n = 0;
  while ((n = recv(waking.fd(), buffer, sizeof(buffer), MSG_DONTWAIT)) > 0)
    got.emplace_back(buffer, static_cast<std::size_t>(n));
  ASSERT_EQ(got.size(), 6u);
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i], i % 2 == 0 ? want : MagicPacket(other)) << i;
  }
}

}  // namespace
}  // namespace qyrsend
