// qyrsend's rules, and the sender against small servers of the test's own on loopback.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "args.h"
#include "hall_api.h"
#include "hall_key.h"
#include "hosts_file.h"
#include "net.h"
#include "remote/protocol.h"
#include "remote/signed_command.h"
#include "sender.h"
#include "signer.h"
#include "status.h"
#include "sweep.h"
#include "wake.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qyrsend {
namespace {

// Every field of the options a command line gives, so that a row says all it expects.
void ExpectOptions(const Options& got, const Options& want) {
  EXPECT_EQ(got.transport, want.transport);
  EXPECT_EQ(got.port, want.port);
  EXPECT_EQ(got.timeout_ms, want.timeout_ms);
  EXPECT_EQ(got.crlf, want.crlf);
  EXPECT_EQ(got.help, want.help);
  EXPECT_EQ(got.hosts_file, want.hosts_file);
  EXPECT_EQ(got.zone, want.zone);
  EXPECT_EQ(got.hosts, want.hosts);
  EXPECT_EQ(got.command, want.command);
  EXPECT_EQ(got.wake, want.wake);
  EXPECT_EQ(got.broadcast, want.broadcast);
  EXPECT_EQ(got.repeat, want.repeat);
  EXPECT_EQ(got.status, want.status);
  EXPECT_EQ(got.json, want.json);
  EXPECT_EQ(got.keygen, want.keygen);
  EXPECT_EQ(got.key_base, want.key_base);
  EXPECT_EQ(got.key_file, want.key_file);
}

TEST(QyrsendArgs, AcceptsTheDocumentedForms) {
  const Transport udp = Transport::Udp;
  const struct {
    std::vector<std::string> args;
    Options want;
  } cases[] = {
      {{"10.0.0.5", "QyrNOR_PC_CHECK"}, {.hosts = {"10.0.0.5"}, .command = "QyrNOR_PC_CHECK"}},
      {{"--udp", "--port", "9000", "--timeout", "150", "a,b:77", "QyrNOR_PC_OFF"},
       {.transport = udp,
        .port = 9000,
        .timeout_ms = 150,
        .hosts = {"a", "b:77"},
        .command = "QyrNOR_PC_OFF"}},
      {{"--hosts", "hall.txt", "--crlf", "QyrNOR_PC_TEST"},
       {.crlf = true, .hosts_file = "hall.txt", .command = "QyrNOR_PC_TEST"}},
      {{"--hosts", "hall.txt", "extra", "QyrNOR_PC_TEST"},
       {.hosts_file = "hall.txt", .hosts = {"extra"}, .command = "QyrNOR_PC_TEST"}},
      {{"h", "--", "-odd"}, {.hosts = {"h"}, .command = "-odd"}},
      // Given twice, the last one counts.
      {{"--port", "1", "--timeout", "5", "h", "--port", "9000", "c", "--timeout", "7"},
       {.port = 9000, .timeout_ms = 7, .hosts = {"h"}, .command = "c"}},
      // keygen and --key.
      {{"keygen"}, {.keygen = true, .key_base = "hall"}},
      {{"keygen", "--out", "/keys/展厅"}, {.keygen = true, .key_base = "/keys/展厅"}},
      {{"--key", "hall.key", "h", "QyrNOR_PC_OFF"},
       {.hosts = {"h"}, .command = "QyrNOR_PC_OFF", .key_file = "hall.key"}},
      {{"--crlf", "--key", "k", "--hosts", "hall.txt", "qyrnor_pc_reboot"},
       {.crlf = true, .hosts_file = "hall.txt", .command = "qyrnor_pc_reboot", .key_file = "k"}},
      {{"--", "keygen", "QyrNOR_PC_CHECK"},  // a host so named
       {.hosts = {"keygen"}, .command = "QyrNOR_PC_CHECK"}},
      // --status asks the hosts of the command line and the file.
      {{"--status", "10.0.0.1"},
       {.hosts = {"10.0.0.1"}, .command = "QyrNOR_PC_STATUS", .status = true}},
      {{"--status", "--json", "--port", "9000", "--timeout", "300", "a,b:77", "c"},
       {.port = 9000,
        .timeout_ms = 300,
        .hosts = {"a", "b:77", "c"},
        .command = "QyrNOR_PC_STATUS",
        .status = true,
        .json = true}},
      {{"--hosts", "hall.txt", "--status"},
       {.hosts_file = "hall.txt", .command = "QyrNOR_PC_STATUS", .status = true}},
      {{"--status", "--", "-odd"},
       {.hosts = {"-odd"}, .command = "QyrNOR_PC_STATUS", .status = true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    const ParsedArgs parsed = ParseArgs(c.args);
    ASSERT_TRUE(parsed.options) << parsed.error;
    ExpectOptions(*parsed.options, c.want);
  }
}

TEST(QyrsendArgs, RejectsWhatCannotBeSent) {
  // Each says what is wrong in the words the user reads after "qyrsend: ".
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{}, "expected HOST[,HOST...] COMMAND"},
      {{"QyrNOR_PC_CHECK"}, "expected HOST[,HOST...] COMMAND"},  // no host
      {{"h", "c", "d"}, "expected HOST[,HOST...] COMMAND"},
      {{"--port", "0", "h", "c"}, "--port needs a number from 1 to 65535"},
      {{"--port", "65536", "h", "c"}, "--port needs a number from 1 to 65535"},
      {{"--port", "12x", "h", "c"}, "--port needs a number from 1 to 65535"},
      {{"--timeout", "0", "h", "c"}, "--timeout needs milliseconds from 1 to 600000"},
      {{"--timeout", "-5", "h", "c"}, "--timeout needs milliseconds from 1 to 600000"},
      {{"--timeout"}, "--timeout needs milliseconds from 1 to 600000"},
      {{"--hosts"}, "--hosts needs a file name"},
      {{"--bogus", "h", "c"}, "unknown option --bogus"},
      {{"h", "-odd"}, "unknown option -odd"},  // a command so named goes after --
      {{"h", ""}, "the command is empty"},     // empty command
      {{",,", "c"}, "no host given"},          // no host in the list
      {{"--wake"}, "expected MAC[,MAC...]"},   // no MAC
      {{"--wake", "a", "b"}, "expected MAC[,MAC...]"},
      {{"--wake", "--udp", "aa:bb:cc:dd:ee:ff"}, "--udp and --crlf do not go with --wake"},
      {{"--wake", "--broadcast"}, "--broadcast needs an IPv4 address"},
      {{"--wake", "--broadcast", "hall-net", "aa:bb:cc:dd:ee:ff"},
       "--broadcast needs an IPv4 address"},
      {{"--wake", "--repeat", "0", "aa:bb:cc:dd:ee:ff"}, "--repeat needs a count from 1 to 100"},
      {{"--wake", "--repeat", "101", "aa:bb:cc:dd:ee:ff"}, "--repeat needs a count from 1 to 100"},
      {{"--wake", "--repeat", "3x", "aa:bb:cc:dd:ee:ff"}, "--repeat needs a count from 1 to 100"},
      {{"--wake", "aa:bb:cc:dd:ee:ff", "--repeat"}, "--repeat needs a count from 1 to 100"},
      {{"--repeat", "2", "h", "QyrNOR_PC_CHECK"},
       "--repeat goes only with --wake"},  // only packets to wake are repeated
      {{"--status"}, "no host given"},     // no host
      {{"--status", ",,"}, "no host given"},
      {{"--status", "h", "QyrNOR_PC_STATUS"},
       "--status sends its own query; QyrNOR_PC_STATUS is no host"},
      {{"--status", "h,QyrNOR_PC_CHECK"},
       "--status sends its own query; QyrNOR_PC_CHECK is no host"},
      {{"--status", "--udp", "h"},
       "--wake, --udp, --crlf and --repeat do not go with --status"},  // its reply comes over TCP
      {{"--status", "--crlf", "h"}, "--wake, --udp, --crlf and --repeat do not go with --status"},
      {{"--status", "--wake", "aa:bb:cc:dd:ee:ff"},
       "--wake, --udp, --crlf and --repeat do not go with --status"},
      {{"--status", "--repeat", "2", "h"},
       "--wake, --udp, --crlf and --repeat do not go with --status"},
      {{"--json", "h", "QyrNOR_PC_CHECK"},
       "--json goes only with --status"},  // JSON is the status report's
      {{"--json", "--wake", "aa:bb:cc:dd:ee:ff"}, "--json goes only with --status"},
      {{"--key"}, "--key needs a key file (BASE.key of qyrsend keygen)"},
      {{"--key", "hall.key", "--udp", "h", "QyrNOR_PC_OFF"},
       "--key signs over TCP; it does not go with --udp"},  // signed over TCP only
      {{"--key", "hall.key", "h", "QyrNOR_PC_CHECK"},
       "--key signs QyrNOR_PC_OFF and QyrNOR_PC_REBOOT only"},  // only power commands are signed
      {{"--key", "hall.key", "h", "QyrNOR_PC_OFF\r\n"},
       "--key signs QyrNOR_PC_OFF and QyrNOR_PC_REBOOT only"},
      {{"--key", "hall.key", "h", "QyrNOR_PC_OFF QyrNOR_PC_CHECK"},
       "--key signs QyrNOR_PC_OFF and QyrNOR_PC_REBOOT only"},
      {{"--key", "hall.key", "--status", "h"}, "--key goes only with a power command"},
      {{"--key", "hall.key", "--wake", "aa:bb:cc:dd:ee:ff"},
       "--key goes only with a power command"},
      {{"keygen", "--out"}, "expected keygen [--out BASE]"},
      {{"keygen", "--out", ""}, "expected keygen [--out BASE]"},
      {{"keygen", "hall"}, "expected keygen [--out BASE]"},
      {{"keygen", "--udp"}, "expected keygen [--out BASE]"},
  };
  for (const auto& c : cases) {
    const ParsedArgs parsed = ParseArgs(c.args);
    EXPECT_FALSE(parsed.options) << (c.args.empty() ? "(none)" : c.args.front());
    EXPECT_EQ(parsed.error, c.error) << (c.args.empty() ? "(none)" : c.args.front());
  }
}

TEST(QyrsendStatus, ReportsEachHostAndSumsUpTheHall) {
  using std::chrono::microseconds;
  const std::vector<Target> targets = {
      {"10.0.0.1", "10.0.0.1", 26908},   {"10.0.0.2", "10.0.0.2", 26908},
      {"10.0.0.3", "10.0.0.3", 26908},   {"10.0.0.4", "10.0.0.4", 26908},
      {"10.0.0.5:81", "10.0.0.5", 81},   {"10.0.0.6", "10.0.0.6", 26908},
      {"10.0.0.7", "10.0.0.7", 26908},   {"10.0.0.8", "10.0.0.8", 26908},
      {"10.0.0.9", "10.0.0.9", 26908},   {"展厅电脑", "展厅电脑", 26908},
      {"10.0.0.11", "10.0.0.11", 26908},
  };
  const std::vector<Answer> answers = {
      {{Verdict::Ok, "OK up=11112 1=run 2=run 3=none 4=none"}, microseconds(2400)},
      {{Verdict::Ok, "OK up=190000 1=run 2=failed 3=wait 4=opened"}, microseconds(350)},
      {{Verdict::Err, {}}, microseconds(900)},
      {{Verdict::Timeout, {}}, std::nullopt},
      {{Verdict::Refused, {}}, std::nullopt},
      {{Verdict::Timeout, "OK"}, std::nullopt},
      {{Verdict::Unexpected, "OK up=5 1=paused\x01\"\xff 2=none 3=none 4=none"},
       microseconds(120000)},
      {{Verdict::Closed, {}}, std::nullopt},
      {{Verdict::Unexpected, "OK up=5 1=r"}, std::nullopt},  // then the peer closed
      {{Verdict::Error, "cannot resolve"}, std::nullopt},
      {{Verdict::RefusedByPc, {}}, std::nullopt},
  };
  EXPECT_EQ(StatusReport(targets, answers),
            // Padded by bytes, as the command report is.
            "10.0.0.1       2 ms  up    3:05:12  1=run 2=run 3=none 4=none\n"
            "10.0.0.2      <1 ms  up 2d 4:46:40  1=run 2=failed 3=wait 4=opened\n"
            "10.0.0.3      ERR: older program, no status\n"
            "10.0.0.4      timeout\n"
            "10.0.0.5:81   refused\n"
            "10.0.0.6      reply cut short \"OK\"\n"
            "10.0.0.7      bad reply \"OK up=5 1=paused\\x01\\\"\\xff 2=none 3=none 4=none\"\n"
            "10.0.0.8      closed without reply\n"
            "10.0.0.9      reply cut short \"OK up=5 1=r\"\n"
            "展厅电脑  error: cannot resolve\n"
            "10.0.0.11     refused by the PC\n"
            "11 hosts: 2 up, 3 programs running, 5 not answering, 4 without status, "
            "1 failed to start\n");
  // The fields --status --json has always printed, then the hall page's own (its PC object).
  constexpr std::int64_t kAskedAt = 1'700'000'000'000;
  const std::string at = "\"" + IsoTime(kAskedAt) + "\"";
  const auto hall_fields = [&](const char* state, const char* reason) {
    const bool up = std::string(state) == "up";
    return std::string(R"(,"name":"","zone":"","mac":null,"state":")") + state + R"(","reason":)" +
           reason + R"(,"last_seen":)" + (up ? at : "null") + R"(,"since":)" + (up ? "null" : at) +
           R"(,"power":null})" + "\n";
  };
  EXPECT_EQ(
      StatusJson(targets, answers, kAskedAt),
      R"({"host":"10.0.0.1","port":26908,"ok":true,"error":null,"detail":null,"rtt_ms":2.4,"up_s":11112,"slots":["run","run","none","none"])" +
          hall_fields("up", R"(null)") +
          R"({"host":"10.0.0.2","port":26908,"ok":true,"error":null,"detail":null,"rtt_ms":0.3,"up_s":190000,"slots":["run","failed","wait","opened"])" +
          hall_fields("up", R"(null)") +
          R"({"host":"10.0.0.3","port":26908,"ok":false,"error":"older_program","detail":null,"rtt_ms":0.9,"up_s":null,"slots":null)" +
          hall_fields("down", R"("older_program")") +
          R"({"host":"10.0.0.4","port":26908,"ok":false,"error":"timeout","detail":null,"rtt_ms":null,"up_s":null,"slots":null)" +
          hall_fields("down", R"("no_answer")") +
          R"({"host":"10.0.0.5","port":81,"ok":false,"error":"refused","detail":null,"rtt_ms":null,"up_s":null,"slots":null)" +
          hall_fields("down", R"("refused")") +
          R"({"host":"10.0.0.6","port":26908,"ok":false,"error":"cut_short","detail":"OK","rtt_ms":null,"up_s":null,"slots":null)" +
          hall_fields("down", R"("not_status")") +
          R"({"host":"10.0.0.7","port":26908,"ok":false,"error":"bad_reply","detail":"OK up=5 1=paused\u0001\"\ufffd 2=none 3=none 4=none","rtt_ms":120.0,"up_s":null,"slots":null)" +
          hall_fields("down", R"("not_status")") +
          R"({"host":"10.0.0.8","port":26908,"ok":false,"error":"closed","detail":null,"rtt_ms":null,"up_s":null,"slots":null)" +
          hall_fields("down", R"("no_answer")") +
          R"({"host":"10.0.0.9","port":26908,"ok":false,"error":"cut_short","detail":"OK up=5 1=r","rtt_ms":null,"up_s":null,"slots":null)" +
          hall_fields("down", R"("not_status")") +
          R"({"host":"展厅电脑","port":26908,"ok":false,"error":"error","detail":"cannot resolve","rtt_ms":null,"up_s":null,"slots":null)" +
          hall_fields("down", R"("error")") +
          R"({"host":"10.0.0.11","port":26908,"ok":false,"error":"refused_by_pc","detail":null,"rtt_ms":null,"up_s":null,"slots":null)" +
          hall_fields("down", R"("allow_list")"));
  // The reply with the last power event after the slots reads as the one without it.
  const Answer with_power = {
      *ClassifyStatus("OK up=11112 1=run 2=run 3=none 4=none power=cancelled@10:31:58"),
      microseconds(2400)};
  EXPECT_EQ(StatusReport({targets[0]}, {with_power}), StatusReport({targets[0]}, {answers[0]}));
  EXPECT_EQ(StatusReport({targets[0]}, {answers[0]}),
            "10.0.0.1  2 ms  up 3:05:12  1=run 2=run 3=none 4=none\n"
            "1 host: 1 up, 2 programs running, 0 not answering\n");

  struct Case {
    std::vector<std::size_t> hosts;  // rows of `answers`
    int code;
  };
  const Case cases[] = {
      {{0}, 0},    {{0, 0}, 0}, {{0, 1}, 1},  // a program that failed to start
      {{0, 2}, 1}, {{0, 3}, 1}, {{4}, 1},    {{5}, 1}, {{6}, 1}, {{9}, 1}, {{10}, 1},
  };
  for (const Case& c : cases) {
    std::vector<Answer> some;
    for (const std::size_t row : c.hosts) some.push_back(answers[row]);
    EXPECT_EQ(StatusExitCode(some), c.code) << c.hosts.back();
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

  // A status query sent as a command: its status line is an OK, kept to be printed whole.
  EXPECT_EQ(RuleFor("QyrNOR_PC_STATUS"), &ClassifyStatusQueryReply);
  EXPECT_EQ(RuleFor("qyrnor_pc_status\r\n"), &ClassifyStatusQueryReply);
  EXPECT_EQ(RuleFor("QyrNOR_PC_CHECK"), &ClassifyReply);
  EXPECT_EQ(RuleFor("QyrNOR_PC_CHECK QyrNOR_PC_STATUS"), &ClassifyReply);  // answered plain OK
  const struct {
    const char* bytes;
    std::optional<Verdict> verdict;  // none: wait for more
    const char* detail;
  } status_queries[] = {
      {"OK up=5 1=run 2=none 3=none 4=none", Verdict::Ok, "OK up=5 1=run 2=none 3=none 4=none"},
      {"OK up=5 1=run 2=no", std::nullopt, ""},
      {"OK up=5 1=paused 2=none 3=none 4=none", Verdict::Ok,
       "OK up=5 1=paused 2=none 3=none 4=none"},
      {"OK", Verdict::Ok, ""},  // a program that answers every word with OK, as before
      {"ERR", Verdict::Err, ""},
      {"O", std::nullopt, ""},
      {"OKAY", Verdict::Unexpected, "OKAY"},
  };
  for (const auto& c : status_queries) {
    const std::optional<Outcome> outcome = ClassifyStatusQueryReply(c.bytes);
    ASSERT_EQ(outcome.has_value(), c.verdict.has_value()) << c.bytes;
    if (!outcome) continue;
    EXPECT_EQ(outcome->verdict, *c.verdict) << c.bytes;
    EXPECT_EQ(outcome->detail, c.detail) << c.bytes;
  }

  const std::vector<Target> targets = {{"pc1", "pc1", 1},
                                       {"10.0.0.22", "10.0.0.22", 1},
                                       {"x", "x", 1},
                                       {"pc4", "pc4", 1},
                                       {"pc5", "pc5", 1}};
  EXPECT_EQ(Report(targets, {{Verdict::Ok, {}},
                             {Verdict::Unexpected, "A\r\n\"\x01"},
                             {Verdict::Error, "cannot resolve"},
                             {Verdict::Ok, "OK up=5 1=run 2=none 3=none 4=none\r\n"},
                             {Verdict::RefusedByPc, {}}}),
            "pc1        OK\n"
            "10.0.0.22  reply \"A\\r\\n\\\"\\x01\"\n"
            "x          error: cannot resolve\n"
            "pc4        OK up=5 1=run 2=none 3=none 4=none\\r\\n\n"
            "pc5        refused by the PC\n");

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
      {{V::RefusedByPc}, 1},
  };
  for (const Case& c : cases) {
    std::vector<Outcome> outcomes;
    for (V v : c.verdicts) outcomes.push_back({v, {}});
    EXPECT_EQ(ExitCode(outcomes), c.code);
  }
}

struct Ran {
  int code = -1;
  std::string out;  // standard output and error together
};

// The built qyrsend, run with `args`.
Ran RunQyrsend(const std::vector<std::string>& args) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv = {const_cast<char*>(QYRSEND_EXE)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(QYRSEND_EXE, argv.data());
    _exit(127);
  }
  close(out[1]);
  Ran run;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = read(out[0], buffer, sizeof(buffer))) > 0)
    run.out.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// A folder of the test's own, removed with the test.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/qyrsend-test-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = path_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(QyrsendHosts, AHostsFileThatIsNoListOfHostsIsRefusedUnread) {
  const ScratchDir dir;
  std::string big;
  while (big.size() <= kMaxHostsFileBytes) big += "# spare PC, not yet set up\n";
  std::string full =
      "\xEF\xBB\xBF"
      "127.0.0.1:1\n";  // just at the limit: still read
  full += std::string(kMaxHostsFileBytes - full.size() - 1, '#') + "\n";
  const struct {
    std::string path;
    int code;
    std::string first_line;
  } cases[] = {
      {dir.path(), 2, "qyrsend: " + dir.path() + " is not a regular file"},
      {"/dev/zero", 2, "qyrsend: /dev/zero is not a regular file"},
      {dir.Write("big.txt", big), 2, "qyrsend: " + dir.path() + "/big.txt is over 1 MB"},
      {dir.Write("nul.txt", std::string("10.0.0.1\n10.0.0.2\0\n", 20)), 2,
       "qyrsend: " + dir.path() + "/nul.txt is not text: a NUL byte in line 2"},
      {dir.Write("utf16.txt", std::string("1\0000\000.\000", 6)), 2,
       "qyrsend: " + dir.path() + "/utf16.txt is not text: a NUL byte in line 1"},
      {dir.Write("latin1.txt", "10.0.0.1\n# Sal\xf3n 2\n10.0.0.2\n"), 2,
       "qyrsend: " + dir.path() + "/latin1.txt is not text: a byte that is not UTF-8 in line 2"},
      {dir.Write("cut.txt", "10.0.0.1 # \xe5\xb1"), 2,
       "qyrsend: " + dir.path() + "/cut.txt is not text: a byte that is not UTF-8 in line 1"},
      {dir.Write("missing/none.txt", ""), 2,
       "qyrsend: cannot read " + dir.path() + "/missing/none.txt"},
      {dir.Write("full.txt", full), 1, "127.0.0.1:1  refused"},
      {dir.Write("hall.txt", "# 展厅\n127.0.0.1:1\n"), 1, "127.0.0.1:1  refused"},
  };
  for (const auto& c : cases) {
    const Ran run = RunQyrsend({"--hosts", c.path, "QyrNOR_PC_CHECK"});
    EXPECT_EQ(run.code, c.code) << c.path;
    EXPECT_EQ(FirstLine(run.out), c.first_line) << c.path;
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

// Accepts connections and answers each first message with `reply` (empty: close unanswered),
// and `rest` a moment later when given: a reply that comes in two pieces. With `hold` the
// connection stays open, as the program keeps it, until the server ends.
class TcpServer {
 public:
  explicit TcpServer(std::string reply, std::string rest = {}, bool hold = false)
      : socket_(SOCK_STREAM), reply_(std::move(reply)), rest_(std::move(rest)), hold_(hold) {
    listen(socket_.fd(), 1024);
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
      if (peer < 0) break;
      char buffer[1024];
      const ssize_t n = recv(peer, buffer, sizeof(buffer), 0);
      if (n > 0) received_.emplace_back(buffer, static_cast<std::size_t>(n));
      if (!reply_.empty()) send(peer, reply_.data(), reply_.size(), MSG_NOSIGNAL);
      if (!rest_.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        send(peer, rest_.data(), rest_.size(), MSG_NOSIGNAL);
      }
      if (hold_) {
        held_.push_back(peer);
      } else {
        close(peer);
      }
    }
    for (const int peer : held_) close(peer);
  }
  LoopbackSocket socket_;
  std::string reply_;
  std::string rest_;
  bool hold_;
  std::vector<int> held_;
  std::atomic<bool> stop_{false};
  std::vector<std::string> received_;
  std::thread thread_;
};

// Takes each connection and drops it at once, unread, as a PC does to a sender its allow-list
// refuses: with a reset, or closed, often before the command has come, which the command's
// arrival then answers with a reset.
class RefusingServer {
 public:
  explicit RefusingServer(bool reset) : socket_(SOCK_STREAM) {
    listen(socket_.fd(), 64);
    thread_ = std::thread([this, reset] {
      for (;;) {
        const int peer = accept(socket_.fd(), nullptr, nullptr);
        if (peer < 0) break;
        const linger at_once = {1, 0};
        if (reset) setsockopt(peer, SOL_SOCKET, SO_LINGER, &at_once, sizeof(at_once));
        close(peer);
      }
    });
  }
  ~RefusingServer() {
    shutdown(socket_.fd(), SHUT_RDWR);
    thread_.join();
  }
  std::uint16_t port() const { return socket_.port(); }

 private:
  LoopbackSocket socket_;
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
  RefusingServer refusing(true);
  RefusingServer closing(false);

  EXPECT_EQ(Send({Local(ok.port()), Local(err.port()), Local(silent.port()), Local(closed.port()),
                  Local(mute.port()), "name.invalid", Local(refusing.port()),
                  Local(refusing.port()), Local(closing.port()), Local(closing.port()),
                  Local(closing.port()), Local(closing.port())},
                 Transport::Tcp),
            (std::vector<Verdict>{Verdict::Ok, Verdict::Err, Verdict::Timeout, Verdict::Refused,
                                  Verdict::Closed, Verdict::Error, Verdict::RefusedByPc,
                                  Verdict::RefusedByPc, Verdict::RefusedByPc, Verdict::RefusedByPc,
                                  Verdict::RefusedByPc, Verdict::RefusedByPc}));
}

TEST(QyrsendTcp, AsksEveryHostForItsStatusAtOnce) {
  TcpServer status("OK up=61 1=run 2=wait 3=none 4=none");
  TcpServer failed("OK up=61 1=failed 2=none 3=none 4=none");
  TcpServer split("OK up=61 1=r", "un 2=none 3=none 4=none");
  TcpServer older("ERR");
  TcpServer plain("OK", "", true);  // a program that answers the query as any other word
  LoopbackSocket silent(SOCK_STREAM);
  listen(silent.fd(), 4);
  LoopbackSocket closed(SOCK_STREAM);

  const struct {
    std::string item;
    Verdict verdict;
    std::string detail;
    bool round_trip;
  } rows[] = {
      {Local(status.port()), Verdict::Ok, "OK up=61 1=run 2=wait 3=none 4=none", true},
      {Local(failed.port()), Verdict::Ok, "OK up=61 1=failed 2=none 3=none 4=none", true},
      {Local(split.port()), Verdict::Ok, "OK up=61 1=run 2=none 3=none 4=none", true},
      {Local(older.port()), Verdict::Err, "", true},
      {Local(plain.port()), Verdict::Timeout, "OK", false},
      {Local(silent.port()), Verdict::Timeout, "", false},
      {Local(closed.port()), Verdict::Refused, "", false},
  };
  std::vector<Target> targets;
  for (const auto& row : rows) {
    std::string error;
    targets.push_back(*ParseTarget(row.item, kDefaultPort, error));
  }
  const std::vector<Answer> answers =
      AskAll(targets, "QyrNOR_PC_STATUS", Transport::Tcp, 1000, ClassifyStatus);
  ASSERT_EQ(answers.size(), std::size(rows));
  for (std::size_t i = 0; i < answers.size(); ++i) {
    EXPECT_EQ(answers[i].outcome.verdict, rows[i].verdict) << i;
    EXPECT_EQ(answers[i].outcome.detail, rows[i].detail) << i;
    EXPECT_EQ(answers[i].round_trip.has_value(), rows[i].round_trip) << i;
  }
  EXPECT_EQ(status.received(), std::vector<std::string>{"QyrNOR_PC_STATUS"});
  EXPECT_EQ(StatusExitCode({answers[0], answers[2]}), 0);

  // The same query as a command: the status line is an OK.
  const std::vector<Outcome> as_command = SendToAll(
      {targets[0]}, "QyrNOR_PC_STATUS", Transport::Tcp, 1000, RuleFor("QyrNOR_PC_STATUS"));
  EXPECT_EQ(as_command.front().verdict, Verdict::Ok);
  EXPECT_EQ(as_command.front().detail, "OK up=61 1=run 2=wait 3=none 4=none");
}

TEST(QyrsendTcp, SendsTheCommandBytesExactly) {
  TcpServer ok("OK");
  ASSERT_EQ(Send({Local(ok.port())}, Transport::Tcp, "QyrNOR_PC_TEST\r\n"),
            std::vector<Verdict>{Verdict::Ok});
  EXPECT_EQ(ok.received(), std::vector<std::string>{"QyrNOR_PC_TEST\r\n"});
}

// Answers nobody until `count` connections are open at once, then every one of them "OK": a
// hall that is only answered when all of its PCs are asked side by side.
class AllAtOnceServer {
 public:
  explicit AllAtOnceServer(std::size_t count) : socket_(SOCK_STREAM), count_(count) {
    listen(socket_.fd(), 4096);
    thread_ = std::thread([this] { Serve(); });
  }
  ~AllAtOnceServer() {
    shutdown(socket_.fd(), SHUT_RDWR);
    thread_.join();
  }
  std::uint16_t port() const { return socket_.port(); }

 private:
  void Serve() {
    std::vector<int> peers;
    while (peers.size() < count_) {
      const int peer = accept(socket_.fd(), nullptr, nullptr);
      if (peer < 0) break;
      peers.push_back(peer);
    }
    for (const int peer : peers) {
      if (peers.size() == count_) send(peer, "OK", 2, MSG_NOSIGNAL);
      close(peer);
    }
  }
  LoopbackSocket socket_;
  std::size_t count_;
  std::thread thread_;
};

std::vector<Target> Many(const std::string& item, std::size_t count) {
  std::string error;
  return std::vector<Target>(count, *ParseTarget(item, kDefaultPort, error));
}

std::size_t CountOf(const std::vector<Outcome>& outcomes, Verdict verdict) {
  return static_cast<std::size_t>(std::count_if(
      outcomes.begin(), outcomes.end(), [&](const Outcome& o) { return o.verdict == verdict; }));
}

TEST(QyrsendHall, EveryHostIsAskedAtOnceWithinOneTimeout) {
  constexpr std::size_t kHall = 1000;
  AllAtOnceServer hall(kHall);
  const std::vector<Outcome> outcomes =
      SendToAll(Many(Local(hall.port()), kHall), "QyrNOR_PC_CHECK", Transport::Tcp, 10000);
  EXPECT_EQ(CountOf(outcomes, Verdict::Ok), kHall) << outcomes.front().detail;
}

// The open-file limit of this process, lowered for one test and put back after it.
class FileLimit {
 public:
  explicit FileLimit(rlim_t limit) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    const rlimit low = {limit, limit};
    lowered_ = setrlimit(RLIMIT_NOFILE, &low) == 0;
  }
  ~FileLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }
  FileLimit(const FileLimit&) = delete;
  FileLimit& operator=(const FileLimit&) = delete;
  bool lowered() const { return lowered_; }

 private:
  rlimit saved_ = {};
  bool lowered_ = false;
};

TEST(QyrsendHall, AHallLargerThanTheOpenFileLimitIsAskedInTurn) {
  TcpServer ok("OK");
  std::vector<Outcome> outcomes;
  {
    const FileLimit limit(128);
    ASSERT_TRUE(limit.lowered());
    outcomes = SendToAll(Many(Local(ok.port()), 400), "QyrNOR_PC_CHECK", Transport::Tcp, 20000);
  }
  EXPECT_EQ(CountOf(outcomes, Verdict::Ok), 400u) << outcomes.back().detail;
}

// Runs `body` on a thread of its own, in a network namespace of its own (loopback up) and a mount
// namespace where /etc/resolv.conf reads `resolv_conf`. False when the system allows neither.
bool InOwnNetwork(const std::string& resolv_conf, const std::function<void()>& body) {
  bool entered = false;
  std::thread([&] {
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) return;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
    char path[] = "/tmp/qyrsend-resolv-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return;
    const bool written = write(fd, resolv_conf.data(), resolv_conf.size()) ==
                         static_cast<ssize_t>(resolv_conf.size());
    close(fd);
    const bool bound = written && mount(path, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
    unlink(path);  // the mount keeps it
    if (!bound) return;
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq lo = {};
    std::strcpy(lo.ifr_name, "lo");
    const bool up = ioctl(s, SIOCGIFFLAGS, &lo) == 0 && (lo.ifr_flags |= IFF_UP) &&
                    ioctl(s, SIOCSIFFLAGS, &lo) == 0;
    close(s);
    if (!up) return;
    entered = true;
    body();
  }).join();
  return entered;
}

TEST(QyrsendHall, ASilentNameServerHoldsNoHostPastTheTimeout) {
  const bool ran = InOwnNetwork("nameserver 127.0.0.77\noptions timeout:30 attempts:5\n", [] {
    // A name server that takes every query and never answers.
    const int name_server = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(0x7F00004D);
    ASSERT_EQ(bind(name_server, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    LoopbackSocket closed(SOCK_STREAM);

    std::string error;
    const std::vector<Outcome> outcomes =
        SendToAll({*ParseTarget("hall-pc-7.example", kDefaultPort, error),
                   *ParseTarget("hall-pc-8.example", kDefaultPort, error),
                   *ParseTarget(Local(closed.port()), kDefaultPort, error)},
                  "QyrNOR_PC_CHECK", Transport::Tcp, 300);
    ASSERT_EQ(outcomes.size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(outcomes[i].verdict, Verdict::Error) << i;
      EXPECT_EQ(outcomes[i].detail, "cannot resolve: no answer in time") << i;
    }
    EXPECT_EQ(outcomes[2].verdict, Verdict::Refused);
    // The names were asked of that server, not answered from somewhere else.
    char query[512];
    EXPECT_GT(recv(name_server, query, sizeof(query), MSG_DONTWAIT), 0);
    close(name_server);
  });
  if (!ran) GTEST_SKIP() << "no network and mount namespace of the test's own";
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

// A PC with a hall key as the program serves it, one connection at a time: QyrNOR_PC_NONCE
// gets "OK <nonce>", a new one on every connection, and the next message is obeyed when it is a
// power command signed over that nonce by the key. Without a key the word is unknown: ERR.
class SigningPc {
 public:
  explicit SigningPc(std::optional<qyr::PublicKey> key)
      : socket_(SOCK_STREAM), key_(std::move(key)) {
    listen(socket_.fd(), 16);
    thread_ = std::thread([this] { Serve(); });
  }
  ~SigningPc() {
    shutdown(socket_.fd(), SHUT_RDWR);
    thread_.join();
  }
  std::uint16_t port() const { return socket_.port(); }
  // What came on each connection, and the commands obeyed; read once the run is over.
  const std::vector<std::string>& received() const { return received_; }
  const std::vector<std::string>& obeyed() const { return obeyed_; }

 private:
  std::string Next(int peer) {
    char buffer[1024];
    const ssize_t n = recv(peer, buffer, sizeof(buffer), 0);
    received_.emplace_back(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
    return received_.back();
  }
  void Reply(int peer, std::string_view reply) {
    send(peer, reply.data(), reply.size(), MSG_NOSIGNAL);
  }
  void Serve() {
    std::random_device random;
    for (;;) {
      const int peer = accept(socket_.fd(), nullptr, nullptr);
      if (peer < 0) break;
      if (qyr::MatchCommand(Next(peer)) != qyr::Command::kNonce || !key_) {
        Reply(peer, "ERR");
        close(peer);
        continue;
      }
      std::array<std::uint8_t, qyr::kNonceBytes> bytes{};
      for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
      const std::string nonce = qyr::HexEncode(bytes);
      Reply(peer, qyr::NonceReply(nonce));
      const std::optional<qyr::SignedCommand> command = qyr::ParseSignedCommand(Next(peer));
      const bool good =
          command && Verify(*key_, qyr::SignedText(command->command, nonce), command->signature);
      if (good) obeyed_.emplace_back(qyr::CommandWord(command->command));
      Reply(peer, good ? "OK" : "ERR");
      close(peer);
    }
  }
  LoopbackSocket socket_;
  std::optional<qyr::PublicKey> key_;
  std::vector<std::string> received_;
  std::vector<std::string> obeyed_;
  std::thread thread_;
};

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(QyrsendSigned, KeygenWritesAPairThatOnlyItsHallObeys) {
  const ScratchDir dir;
  const std::string base = dir.path() + "/hall";
  const Ran made = RunQyrsend({"keygen", "--out", base});
  ASSERT_EQ(made.code, 0) << made.out;
  struct stat info = {};
  ASSERT_EQ(stat((base + ".key").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::string error;
  const std::optional<HallKey> key = ParsePrivateKeyFile(FileText(base + ".key"), error);
  ASSERT_TRUE(key) << error;
  EXPECT_EQ(FileText(base + ".pub"), PublicKeyFileText(key->public_key));
  EXPECT_NE(made.out.find(qyr::HexEncode(key->public_key)), std::string::npos) << made.out;

  // Never over a key: the hall's PCs would all refuse the new one.
  const std::string before = FileText(base + ".key");
  EXPECT_EQ(RunQyrsend({"keygen", "--out", base}).code, 2);
  EXPECT_EQ(FileText(base + ".key"), before);
  dir.Write("spare.pub", "kept\n");
  const Ran half = RunQyrsend({"keygen", "--out", dir.path() + "/spare"});
  EXPECT_EQ(half.code, 2);
  EXPECT_EQ(FirstLine(half.out),
            "qyrsend: " + dir.path() + "/spare.pub exists already; keygen never overwrites a key");
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/spare.key"));

  const std::optional<HallKey> stranger = GenerateHallKey();
  ASSERT_TRUE(stranger);
  SigningPc hall(key->public_key);
  SigningPc other_hall(stranger->public_key);
  SigningPc unsigned_pc(std::nullopt);
  std::string target_error;
  const std::vector<Target> targets = {
      *ParseTarget(Local(hall.port()), kDefaultPort, target_error),
      *ParseTarget(Local(other_hall.port()), kDefaultPort, target_error),
      *ParseTarget(Local(unsigned_pc.port()), kDefaultPort, target_error)};
  const std::string hall_list = targets[0].label + "," + targets[1].label + "," + targets[2].label;
  const Ran off = RunQyrsend({"--key", base + ".key", "--crlf", hall_list, "QyrNOR_PC_OFF"});
  EXPECT_EQ(off.code, 1);
  EXPECT_EQ(off.out, Report(targets, {{Verdict::Ok, {}},
                                      {Verdict::Err, {}},
                                      {Verdict::Err, std::string(kNoSignedCommands)}}));
  const Ran reboot = RunQyrsend({"--key", base + ".key", targets[0].label, "qyrnor_pc_reboot"});
  EXPECT_EQ(reboot.code, 0) << reboot.out;
  EXPECT_EQ(hall.obeyed(), (std::vector<std::string>{"QyrNOR_PC_OFF", "QyrNOR_PC_REBOOT"}));
  EXPECT_TRUE(other_hall.obeyed().empty());
  ASSERT_EQ(hall.received().size(), 4u);
  EXPECT_EQ(hall.received()[0], "QyrNOR_PC_NONCE\r\n");
  EXPECT_TRUE(hall.received()[1].starts_with("QyrNOR_PC_OFF ")) << hall.received()[1];
  EXPECT_TRUE(hall.received()[1].ends_with("\r\n")) << hall.received()[1];
  EXPECT_EQ(hall.received()[2], "QyrNOR_PC_NONCE");

  // The wrong half of the pair, or lines of two pairs, sign nothing.
  const struct {
    std::string key_file;
    std::string first_line;
  } refused[] = {
      {base + ".pub",
       "qyrsend: " + base + ".pub is the public key; --key takes the private one (BASE.key)"},
      {dir.Write("mixed.key",
                 qyr::HexEncode(key->secret) + "\n" + qyr::HexEncode(stranger->public_key) + "\n"),
       "qyrsend: " + dir.path() +
           "/mixed.key holds no key pair: its two keys do not belong together"},
      {dir.path() + "/none.key", "qyrsend: cannot read " + dir.path() + "/none.key"},
  };
  for (const auto& c : refused) {
    const Ran run = RunQyrsend({"--key", c.key_file, targets[0].label, "QyrNOR_PC_OFF"});
    EXPECT_EQ(run.code, 2) << c.key_file;
    EXPECT_EQ(FirstLine(run.out), c.first_line);
  }
  EXPECT_EQ(hall.obeyed().size(), 2u);

  // The page's power commands go the same way with the key (serve --key), zone after zone.
  HallNet net;
  std::string key_error;
  net.key = LoadHallKey(base + ".key", key_error);
  ASSERT_TRUE(net.key) << key_error;
  const Hall zones =
      *ParseHall("[A]\n" + targets[0].label + "\n[B]\n" + targets[2].label + "\n", kDefaultPort)
           .hall;
  const std::vector<Outcome> page = SendZoneByZone(zones, {0, 1}, qyr::Command::kPowerOff, net);
  ASSERT_EQ(page.size(), 2u);
  EXPECT_EQ(page[0].verdict, Verdict::Ok);
  EXPECT_EQ(page[1].detail, kNoSignedCommands);
  EXPECT_EQ(hall.obeyed(),
            (std::vector<std::string>{"QyrNOR_PC_OFF", "QyrNOR_PC_REBOOT", "QyrNOR_PC_OFF"}));
}

TEST(QyrsendHosts, EveryFormReadsZonesAndTakesOneWithZone) {
  TcpServer a("OK");
  TcpServer b("OK");
  const ScratchDir dir;
  const std::string hall =
      dir.Write("hall.txt", "[展厅A]\n" + Local(a.port()) + " name=左墙\n[展厅B]\n" +
                                Local(b.port()) + " aa:bb:cc:dd:ee:02\n");
  const std::string bad = dir.Write("bad.txt", Local(a.port()) + " aa:bb:cc:dd:ee:2\n");
  const struct {
    std::vector<std::string> args;
    int code;
    std::string out;  // its first line
  } cases[] = {
      {{"--hosts", hall, "QyrNOR_PC_CHECK"}, 0, Local(a.port()) + "  OK"},
      {{"--hosts", hall, "--zone", "展厅B", "QyrNOR_PC_CHECK"}, 0, Local(b.port()) + "  OK"},
      {{"--hosts", hall, "--zone", "展厅B", "--wake", "--broadcast", "127.255.255.255"},
       0,
       "aa:bb:cc:dd:ee:02  sent"},
      {{"--hosts", hall, "--zone", "展厅C", "QyrNOR_PC_CHECK"},
       2,
       "qyrsend: no zone 展厅C in " + hall},
      // A MAC written wrong is refused by every form, not only by --wake.
      {{"--hosts", bad, "QyrNOR_PC_CHECK"},
       2,
       "qyrsend: " + bad + ", line 1: aa:bb:cc:dd:ee:2 is neither a host nor a MAC"},
      {{"--zone", "展厅A", Local(a.port()), "QyrNOR_PC_CHECK"},
       2,
       "qyrsend: --zone goes only with --hosts"},
  };
  for (const auto& c : cases) {
    const Ran run = RunQyrsend(c.args);
    EXPECT_EQ(run.code, c.code) << run.out;
    EXPECT_EQ(FirstLine(run.out), c.out) << run.out;
  }
  const Ran status = RunQyrsend({"--status", "--json", "--hosts", hall, "--zone", "展厅A"});
  EXPECT_NE(status.out.find(R"("name":"左墙","zone":"展厅A")"), std::string::npos) << status.out;
}

}  // namespace
}  // namespace qyrsend
