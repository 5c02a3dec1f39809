#include <cstdlib>
#include <ctime>
#include <string>

#include "hall_api.h"
#include "hall_state.h"
#include "hosts_file.h"
#include "morning_start.h"

#include <gtest/gtest.h>

namespace qyrsend {
namespace {

TEST(HallHosts, ZonesNamesAndTheOldFormsLineByLine) {
  struct Case {
    const char* text;
    const char* shape;  // zone:label/name/mac... or the error
  } cases[] = {
      {"192.168.1.21\n192.168.1.22 aa:bb:cc:dd:ee:01  # left\n", "[]192.168.1.21 192.168.1.22+mac"},
      {"\xEF\xBB\xBF[展厅A]\n10.0.0.1 name=左墙\n[展厅B]\r\n10.0.0.2:27000 aa-bb-cc-dd-ee-02 "
       "name=\"Right wall\"\n",
       "[展厅A]10.0.0.1=左墙 [展厅B]10.0.0.2:27000=Right wall+mac"},
      {"10.0.0.9\n[A]\n10.0.0.1, 10.0.0.2\n[ B ]\n", "[]10.0.0.9 [A]10.0.0.1 10.0.0.2 [B]"},
      {"pc-01.hall # by name\n", "[]pc-01.hall"},
      {"[A]\n10.0.0.1\n[A]\n10.0.0.2\n", "line 3: zone A is already on line 1"},
      {"[A\n10.0.0.1\n", "line 1: a zone heading ends with ]"},
      {"[ ]\n", "line 1: a zone heading needs a name"},
      {"10.0.0.1\n10.0.0.1:26908\n", "line 2: 10.0.0.1:26908 is already on line 1"},
      {"10.0.0.1 aa:bb:cc:dd:ee:2\n", "line 1: aa:bb:cc:dd:ee:2 is neither a host nor a MAC"},
      {"\n\n10.0.0.1 aabbccddee03\n", "line 3: aabbccddee03 is neither a host nor a MAC"},
      {"aa:bb:cc:dd:ee:01\n", "line 1: no host"},
      {"10.0.0.1 aa:bb:cc:dd:ee:01 aa:bb:cc:dd:ee:02\n", "line 1: two MACs"},
      {"10.0.0.1 10.0.0.2 name=x\n", "line 1: one host a line when it has a MAC or a name"},
      {"10.0.0.1 role=player\n", "line 1: unknown key role= (a PC takes name=)"},
      {"10.0.0.1 name=\n", "line 1: name= needs a name"},
      {"10.0.0.1 name=\"open\n", "line 1: a quote is not closed"},
      {"10.0.0.1:99999\n", "line 1: 10.0.0.1:99999 is neither a host nor a MAC"},
      {"# nothing\n[A]\n", "no PC in the file"},
  };
  for (const Case& c : cases) {
    const HallParse parse = ParseHall(c.text, kDefaultPort);
    std::string shape;
    if (!parse.hall) {
      shape = parse.error;
    } else {
      for (const HallZone& zone : parse.hall->zones) {
        if (!shape.empty()) shape += ' ';
        shape += "[" + zone.name + "]";
        for (std::size_t k = 0; k < zone.pcs.size(); ++k) {
          const HallPc& pc = parse.hall->pcs[zone.pcs[k]];
          if (k > 0) shape += ' ';
          shape +=
              pc.target.label + (pc.name.empty() ? "" : "=" + pc.name) + (pc.mac ? "+mac" : "");
          EXPECT_EQ(parse.hall->zones[pc.zone].name, zone.name);
        }
      }
    }
    EXPECT_EQ(shape, c.shape) << c.text;
  }
  // The classic forms read the same file, and still take what they always took: MACs alone on a
  // line (for --wake), a host twice, a file without a PC.
  const struct {
    const char* text;
    std::size_t pcs;
    std::size_t macs;
    const char* error;
  } classic[] = {
      {"aa:bb:cc:dd:ee:01, aa-bb-cc-dd-ee-02\n10.0.0.1 aa:bb:cc:dd:ee:03\n", 1, 3, ""},
      {"10.0.0.1\n10.0.0.1\n", 2, 0, ""},
      {"# spare\n", 0, 0, ""},
      {"[A]\n10.0.0.1 aa:bb:cc:dd:ee:2\n", 0, 0,
       "line 2: aa:bb:cc:dd:ee:2 is neither a host nor a MAC"},
  };
  for (const auto& c : classic) {
    const HallParse parse = ParseHostsFile(c.text, kDefaultPort);
    EXPECT_EQ(parse.error, c.error) << c.text;
    if (!parse.hall) continue;
    EXPECT_EQ(parse.hall->pcs.size(), c.pcs) << c.text;
    EXPECT_EQ(parse.hall->macs.size(), c.macs) << c.text;
  }

  const HallParse ports = ParseHall("10.0.0.1\n10.0.0.2:27000\n", 26000);
  ASSERT_TRUE(ports.hall);
  EXPECT_EQ(ports.hall->pcs[0].target.port, 26000);
  EXPECT_EQ(ports.hall->pcs[1].target.port, 27000);
}

Answer Status(const std::string& line, int rtt_us = 1500) {
  return {{Verdict::Ok, line}, std::chrono::microseconds(rtt_us)};
}

TEST(PcTracker, StatesAndReasonsFromAnswersAndActions) {
  constexpr std::int64_t t0 = 1'000'000;
  const std::string up = "OK up=61 1=run 2=failed 3=none 4=none";
  enum Step { kAnswer, kWake, kPowerOk, kPowerErr };
  struct Event {
    Step step;
    Answer answer;
    std::int64_t at;
  };
  struct Case {
    const char* what;
    std::vector<Event> events;
    PcState state;
    DownReason reason;
    std::optional<std::int64_t> since;
  } cases[] = {
      {"nothing asked yet", {}, PcState::kUnknown, DownReason::kNone, std::nullopt},
      {"up", {{kAnswer, Status(up), t0}}, PcState::kUp, DownReason::kNone, std::nullopt},
      {"silent from the start",
       {{kAnswer, {{Verdict::Timeout, ""}, {}}, t0},
        {kAnswer, {{Verdict::Timeout, ""}, {}}, t0 + 5000}},
       PcState::kDown,
       DownReason::kNoAnswer,
       t0},
      {"silent since its last answer",
       {{kAnswer, Status(up), t0},
        {kAnswer, {{Verdict::Timeout, ""}, {}}, t0 + 5000},
        {kAnswer, {{Verdict::Timeout, ""}, {}}, t0 + 10000}},
       PcState::kDown,
       DownReason::kNoAnswer,
       t0},
      {"refused",
       {{kAnswer, {{Verdict::Refused, ""}, {}}, t0}},
       PcState::kDown,
       DownReason::kRefused,
       t0},
      {"allow-list",
       {{kAnswer, {{Verdict::RefusedByPc, ""}, {}}, t0}},
       PcState::kDown,
       DownReason::kAllowList,
       t0},
      {"taken and closed without a word",
       {{kAnswer, {{Verdict::Closed, ""}, {}}, t0}},
       PcState::kDown,
       DownReason::kNoAnswer,
       t0},
      {"older program",
       {{kAnswer, {{Verdict::Err, ""}, {}}, t0}},
       PcState::kDown,
       DownReason::kErr,
       t0},
      {"no status line",
       {{kAnswer, {{Verdict::Unexpected, "OK"}, {}}, t0}},
       PcState::kDown,
       DownReason::kNotStatus,
       t0},
      {"a status line that stopped halfway",
       {{kAnswer, {{Verdict::Timeout, "OK up=1 1=r"}, {}}, t0}},
       PcState::kDown,
       DownReason::kNotStatus,
       t0},
      {"woken, not up yet",
       {{kAnswer, {{Verdict::Timeout, ""}, {}}, t0},
        {kWake, {}, t0 + 1000},
        {kAnswer, {{Verdict::Refused, ""}, {}}, t0 + 6000}},
       PcState::kWaking,
       DownReason::kRefused,
       t0},
      {"woken long ago, still silent",
       {{kWake, {}, t0}, {kAnswer, {{Verdict::Timeout, ""}, {}}, t0 + kWakeWindowMs}},
       PcState::kDown,
       DownReason::kNoAnswer,
       t0 + kWakeWindowMs},
      {"woken and up",
       {{kWake, {}, t0}, {kAnswer, Status(up), t0 + 9000}},
       PcState::kUp,
       DownReason::kNone,
       std::nullopt},
      {"told to power off, an older program",
       {{kAnswer, Status(up), t0}, {kPowerOk, {}, t0 + 1000}, {kAnswer, Status(up), t0 + 2000}},
       PcState::kPoweringOff,
       DownReason::kNone,
       std::nullopt},
      {"told to power off, the PC refused",
       {{kAnswer, Status(up), t0}, {kPowerErr, {}, t0 + 1000}, {kAnswer, Status(up), t0 + 2000}},
       PcState::kUp,
       DownReason::kNone,
       std::nullopt},
      {"counting down",
       {{kPowerOk, {}, t0}, {kAnswer, Status(up + " power=off@10:31:50"), t0 + 1000}},
       PcState::kCountingDown,
       DownReason::kNone,
       std::nullopt},
      {"cancelled at the PC",
       {{kPowerOk, {}, t0}, {kAnswer, Status(up + " power=cancelled@10:31:58"), t0 + 3000}},
       PcState::kCancelled,
       DownReason::kNone,
       std::nullopt},
      {"a cancel long before we asked nothing is just up",
       {{kAnswer, Status(up + " power=cancelled@08:00:00"), t0}},
       PcState::kUp,
       DownReason::kNone,
       std::nullopt},
      {"powered off",
       {{kAnswer, Status(up), t0},
        {kPowerOk, {}, t0 + 1000},
        {kAnswer, {{Verdict::Refused, ""}, {}}, t0 + 8000}},
       PcState::kDown,
       DownReason::kRefused,
       t0},
  };
  for (const Case& c : cases) {
    PcTracker tracker;
    for (const Event& e : c.events) {
      switch (e.step) {
        case kAnswer:
          tracker.OnAnswer(e.answer, e.at);
          break;
        case kWake:
          tracker.OnWakeSent(e.at);
          break;
        case kPowerOk:
          tracker.OnPowerSent({Verdict::Ok, {}}, e.at);
          break;
        case kPowerErr:
          tracker.OnPowerSent({Verdict::Err, {}}, e.at);
          break;
      }
    }
    EXPECT_EQ(PcStateText(tracker.status().state), PcStateText(c.state)) << c.what;
    EXPECT_EQ(DownReasonText(tracker.status().reason), DownReasonText(c.reason)) << c.what;
    EXPECT_EQ(tracker.status().no_answer_since_ms, c.since) << c.what;
  }
}

TEST(PcTracker, TheSummaryCountsUpRunningDownAndUnknown) {
  PcTracker up, down, unknown;
  up.OnAnswer(Status("OK up=1 1=run 2=run 3=wait 4=none"), 1);
  down.OnAnswer({{Verdict::Err, ""}, {}}, 1);
  const HallSummary s = Summarize({up.status(), down.status(), unknown.status()});
  EXPECT_EQ(s.pcs, 3);
  EXPECT_EQ(s.up, 1);
  EXPECT_EQ(s.programs_running, 2);
  EXPECT_EQ(s.down, 1);
  EXPECT_EQ(s.unknown, 1);
}

AnswerView View(const std::string& line) { return ViewAnswer({Verdict::Ok, line}); }
AnswerView Silent() { return ViewAnswer({Verdict::Timeout, ""}); }

// The morning start as a state table: each row is a moment, what happened then, and what the
// machine said to do.
TEST(MorningStart, ZoneAfterZoneInBatchesUntilEveryPcIsReady) {
  StartSettings settings;
  settings.zone_gap_s = 20;
  settings.wake_batch = 2;
  settings.wake_tries = 3;
  // Zone 1: three PCs, zone 2: one PC without a MAC.
  MorningStart start({{{true}, {true}, {true}}, {{false}}}, settings);
  const auto wake = [](const StartEffects& e) { return e.wake; };
  using V = std::vector<std::size_t>;

  StartEffects e = start.OnTick(0);
  EXPECT_EQ(wake(e), (V{0, 1})) << "a batch a second";
  EXPECT_EQ(e.ask, (V{0, 1}));
  e = start.OnTick(500);
  EXPECT_TRUE(e.wake.empty());
  e = start.OnTick(1000);
  EXPECT_EQ(wake(e), (V{2}));

  // PC 0 comes up step by step; PC 1 answers with program 2 failed.
  e = start.OnAnswer(0, View("OK up=3 1=wait 2=wait 3=none 4=none"), 5000);
  ASSERT_EQ(e.changes.size(), 1u);
  EXPECT_EQ(StartChangeText(e.changes[0]), "answering");
  e = start.OnAnswer(1, View("OK up=3 1=run 2=failed 3=none 4=none"), 5000);
  EXPECT_EQ(StartChangeText(e.changes[0]), "failed: answers but program 2 failed");
  e = start.OnAnswer(0, View("OK up=8 1=run 2=wait 3=none 4=none"), 10000);
  EXPECT_EQ(StartChangeText(e.changes[0]), "programs running");
  e = start.OnAnswer(0, View("OK up=13 1=run 2=opened 3=none 4=none"), 15000);
  EXPECT_EQ(StartChangeText(e.changes[0]), "ready");

  // PC 2 is silent: woken again every 15 s, three times in all, then failed.
  e = start.OnTick(16000);
  EXPECT_EQ(e.wake, (V{2})) << "only the PC that does not answer";
  EXPECT_TRUE(start.OnAnswer(2, Silent(), 16500).changes.empty());
  e = start.OnTick(20999);
  EXPECT_TRUE(e.changes.empty()) << "zone 2 waits its gap after zone 1's last batch";
  e = start.OnTick(21000);
  EXPECT_TRUE(e.wake.empty()) << "no MAC, nothing to send";
  ASSERT_EQ(e.changes.size(), 1u);
  EXPECT_EQ(e.changes[0].pc, 3u);
  EXPECT_EQ(e.changes[0].step, StartStep::kWaking);
  e = start.OnTick(31000);
  EXPECT_EQ(e.wake, (V{2}));
  e = start.OnTick(46000);
  EXPECT_TRUE(e.wake.empty());
  ASSERT_EQ(e.changes.size(), 1u);
  EXPECT_EQ(StartChangeText(e.changes[0]), "failed: never answered");

  // PC 3 had no MAC: it may come up by itself within the same tries.
  EXPECT_FALSE(start.Done());
  e = start.OnAnswer(3, View("OK up=40 1=none 2=none 3=none 4=none"), 50000);
  EXPECT_EQ(StartChangeText(e.changes[0]), "ready") << "no program set: ready once it answers";
  EXPECT_TRUE(start.Done());
  EXPECT_FALSE(start.AllReady());
  EXPECT_FALSE(start.ReadyAt());
}

TEST(MorningStart, EveryWayAPcEndsAndTheHallReady) {
  struct Case {
    AnswerView answer;
    std::int64_t tick_after;  // a tick this long after the answer
    const char* text;
  } cases[] = {
      {ViewAnswer({Verdict::Err, ""}), 0, "failed: answers ERR (an older QyrDelay without status)"},
      {ViewAnswer({Verdict::RefusedByPc, ""}), 0, "failed: refused by its allow-list"},
      {ViewAnswer({Verdict::Unexpected, "HELLO"}), 0, "failed: a reply that is not a status line"},
      {View("OK up=1 1=run 2=ended 3=none 4=none"), 0, "failed: answers but program 2 ended"},
      {View("OK up=1 1=run 2=restart 3=none 4=none"), 120000,
       "failed: answers but program 2 is still restart"},
      {ViewAnswer({Verdict::Refused, ""}), 15000 * 8, "failed: never answered"},
  };
  for (const Case& c : cases) {
    MorningStart start({{{true}}}, StartSettings{});
    start.OnTick(0);
    start.OnAnswer(0, c.answer, 1000);
    for (std::int64_t t = 1000; t <= 1000 + c.tick_after; t += 1000) start.OnTick(t);
    EXPECT_EQ(StartChangeText(start.Current(0)), c.text);
    EXPECT_TRUE(start.Done()) << c.text;
  }
  MorningStart hall({{{true}}, {{true}}}, StartSettings{});
  hall.OnTick(0);
  hall.OnAnswer(0, View("OK up=1 1=run 2=none 3=none 4=none"), 2000);
  hall.OnTick(20000);
  hall.OnAnswer(1, View("OK up=1 1=run 2=none 3=none 4=none"), 24000);
  EXPECT_TRUE(hall.AllReady());
  EXPECT_EQ(hall.ReadyAt(), 24000);
}

TEST(HallApi, TheTokenGateRefusesGuessersForAMinute) {
  const std::string token(64, 'a');
  TokenGate gate(token);
  const std::string wrong(64, 'b');
  EXPECT_EQ(gate.Check("10.0.0.5", std::nullopt, std::nullopt, 0), Access::kUnauthorized);
  EXPECT_EQ(gate.Check("10.0.0.5", token, std::nullopt, 0), Access::kAllowed);
  for (int i = 0; i < kWrongTriesAllowed; ++i)
    EXPECT_EQ(gate.Check("10.0.0.5", wrong, std::nullopt, 1000 + i), Access::kUnauthorized) << i;
  EXPECT_EQ(gate.Check("10.0.0.5", wrong, std::nullopt, 2000), Access::kTooMany);
  EXPECT_EQ(gate.Check("10.0.0.5", token, std::nullopt, 3000), Access::kTooMany)
      << "locked out, right token or not";
  EXPECT_EQ(gate.Check("10.0.0.6", token, std::nullopt, 3000), Access::kAllowed) << "per address";
  EXPECT_EQ(gate.Check("10.0.0.5", token, std::nullopt, 2000 + kLockOutMs), Access::kAllowed);
  // Wrong tries spread over more than a minute lock no one out.
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(gate.Check("10.0.0.7", wrong, std::nullopt, i * 15000), Access::kUnauthorized) << i;
  gate.AddSession("s1");
  EXPECT_EQ(gate.Check("10.0.0.8", std::nullopt, std::string_view("s1"), 0), Access::kAllowed);
  EXPECT_EQ(gate.Check("10.0.0.8", std::nullopt, std::string_view("s2"), 0), Access::kUnauthorized);
  EXPECT_EQ(gate.Check("10.0.0.8", token.substr(0, 63), std::nullopt, 0), Access::kUnauthorized);
}

TEST(HallApi, HeadersOfTheCredentialAndTheOrigin) {
  EXPECT_EQ(BearerToken("Bearer abc"), "abc");
  EXPECT_EQ(BearerToken("Basic abc"), std::nullopt);
  EXPECT_EQ(CookieValue("a=1; qyrhall=s3; b=2", "qyrhall"), "s3");
  EXPECT_EQ(CookieValue("xqyrhall=s3", "qyrhall"), std::nullopt);
  EXPECT_TRUE(SameOrigin(std::nullopt, "127.0.0.1:8908"));
  EXPECT_TRUE(SameOrigin("http://127.0.0.1:8908", "127.0.0.1:8908"));
  EXPECT_FALSE(SameOrigin("http://evil.example", "127.0.0.1:8908"));
  EXPECT_FALSE(SameOrigin("null", "127.0.0.1:8908"));
}

TEST(HallApi, ActionRequestsAndTheWordsOfABadOne) {
  const Hall hall = *ParseHall("[A]\n10.0.0.1\n10.0.0.2\n[B]\n10.0.0.3\n", kDefaultPort).hall;
  struct Case {
    std::string body;
    const char* error;  // empty: taken
    std::vector<std::size_t> pcs;
  } cases[] = {
      {R"({"action":"off","zone":"B"})", "", {2}},
      {R"({"action":"check"})", "", {0, 1, 2}},
      {R"({"action":"wake","hosts":["10.0.0.3","10.0.0.1","10.0.0.3"]})", "", {0, 2}},
      // As the page names a PC: HOST:PORT of its object.
      {R"({"action":"reboot","hosts":["10.0.0.2:26908"]})", "", {1}},
      {R"({"action":"reboot","hosts":["10.0.0.2:26909"]})", "unknown PC \"10.0.0.2:26909\"", {}},
      {R"({"action":"halt"})", "unknown action \"halt\" (check, wake, off, reboot or start)", {}},
      {R"({"zone":"A"})", "no action (check, wake, off, reboot or start)", {}},
      {R"({"action":"off","zone":"C"})", "unknown zone \"C\"", {}},
      {R"({"action":"off","hosts":["10.0.0.9"]})", "unknown PC \"10.0.0.9\"", {}},
      {R"({"action":"off","hosts":[]})", "hosts is a list of PCs", {}},
      {R"({"action":"off","zone":"A","hosts":["10.0.0.1"]})", "a zone or hosts, not both", {}},
      {R"({"action":"off")", "the body is not valid JSON", {}},
      {R"(["off"])", "the body is not a JSON object", {}},
      {R"({"action":"check","pad":")" + std::string(kMaxBodyBytes, 'x') + "\"}",
       "the body is over 64 KB",
       {}},
  };
  for (const Case& c : cases) {
    const RequestCheck check = ParseActionRequest(c.body, hall);
    EXPECT_EQ(check.error, c.error) << c.body.substr(0, 80);
    if (check.request) {
      EXPECT_EQ(check.request->pcs, c.pcs) << c.body;
    }
  }
}

TEST(HallApi, TimesCarryTheirOffsetFromUtc) {
  const char* const kept = std::getenv("TZ");
  const std::string before = kept ? kept : "";
  const struct {
    const char* zone;
    const char* time;
  } cases[] = {
      {"UTC0", "1970-01-01T00:00:00+00:00"},
      {"CST-8", "1970-01-01T08:00:00+08:00"},
      {"NST3:30", "1969-12-31T20:30:00-03:30"},
  };
  for (const auto& c : cases) {
    setenv("TZ", c.zone, 1);
    tzset();
    EXPECT_EQ(IsoTime(0), c.time) << c.zone;
  }
  if (kept) {
    setenv("TZ", before.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(HallApi, OnePcAsTheApiShowsIt) {
  const Hall hall =
      *ParseHall("[展厅A]\n10.0.0.1 aa:bb:cc:dd:ee:01 name=左墙\n", kDefaultPort).hall;
  PcTracker tracker;
  tracker.OnAnswer(Status("OK up=61 1=run 2=none 3=none 4=none power=cancelled@10:31:58", 2500), 0);
  const Json pc = PcJson(hall, 0, tracker.status());
  // What scripts of --status --json read comes first, as it always came.
  std::vector<std::string> keys;
  for (const auto& item : pc.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"host", "port", "ok", "error", "detail", "rtt_ms",
                                            "up_s", "slots", "name", "zone", "mac", "state",
                                            "reason", "last_seen", "since", "power"}));
  EXPECT_EQ(pc["host"], "10.0.0.1");
  EXPECT_EQ(pc["port"], 26908);
  EXPECT_EQ(pc["mac"], "aa:bb:cc:dd:ee:01");
  EXPECT_EQ(pc["name"], "左墙");
  EXPECT_EQ(pc["zone"], "展厅A");
  EXPECT_EQ(pc["state"], "up");
  EXPECT_EQ(pc["reason"], nullptr);
  EXPECT_EQ(pc["up_s"], 61);
  EXPECT_EQ(pc["slots"], Json({"run", "none", "none", "none"}));
  EXPECT_EQ(pc["rtt_ms"], 2.5);
  EXPECT_EQ(pc["power"], Json({{"what", "cancelled"}, {"at", "10:31:58"}}));
  EXPECT_TRUE(pc["last_seen"].is_string());
}

}  // namespace
}  // namespace qyrsend
