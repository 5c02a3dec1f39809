#include "launch/keep_running.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qyr {
namespace {

using S = SlotState;

TEST(KeepRunning, TheRestartSettingIsSecondsOrOff) {
  using E = RestartError;
  const struct {
    const char* text;
    std::optional<std::int32_t> seconds;
    E error;
  } cases[] = {
      {"", std::nullopt, E::kNone},
      {"0", std::nullopt, E::kNone},
      {"10", 10, E::kNone},
      {"$1E", 30, E::kNone},
      {"  5", 5, E::kNone},
      {"-5", std::nullopt, E::kNegative},
      {"5 ", std::nullopt, E::kNotInteger},
      {"ten", std::nullopt, E::kNotInteger},
      {"1.5", std::nullopt, E::kNotInteger},
      {"4294967296", std::nullopt, E::kNotInteger},
      {"2147483647", 2147483647, E::kNone},
  };
  for (const auto& c : cases) {
    const RestartSetting r = ParseRestart(c.text);
    EXPECT_EQ(r.seconds, c.seconds) << c.text;
    EXPECT_EQ(r.error, c.error) << c.text;
  }
  EXPECT_EQ(RestartKey(0), "Restart0");
  EXPECT_EQ(RestartKey(3), "Restart3");
}

using Event = std::function<KeepEffects(KeptSlot&)>;
Event Start(std::uint64_t at) {
  return [at](KeptSlot& s) { return s.OnStarted(at); };
}
Event Open(std::uint64_t at) {
  return [at](KeptSlot& s) { return s.OnOpened(at); };
}
Event Fail(std::uint64_t at) {
  return [at](KeptSlot& s) { return s.OnStartFailed(at); };
}
Event End(std::uint64_t at, std::uint32_t code = 3) {
  return [at, code](KeptSlot& s) { return s.OnEnded(at, code); };
}
Event Timer(std::uint64_t at) {
  return [at](KeptSlot& s) { return s.OnRestartDue(at); };
}
Event Stop(std::uint64_t at) {
  return [at](KeptSlot& s) { return s.OnStopKeeping(at); };
}

struct Step {
  Event event;
  S state;
  std::optional<std::uint64_t> restart_in_ms = std::nullopt;
  bool start = false;
  std::string log = {};
};

// The common steps of a kept slot 1: started with a process, ended (exit code 3) and started
// again after `wait_s`, the restart timer due.
Step Started(std::uint64_t at) { return {Start(at), S::kRun}; }
Step EndAgain(std::uint64_t at, std::uint64_t wait_s) {
  return {End(at), S::kRestart, wait_s * 1000, false,
          "slot 1 ended (exit code 3), started again in " + std::to_string(wait_s) + " s"};
}
Step Due(std::uint64_t at) { return {Timer(at), S::kRestart, std::nullopt, true}; }

// Runs the steps on slot 1 with `path`, set up as at program start, checking every effect.
void RunScript(const char* restart, const std::vector<Step>& steps, const char* path = "a.exe") {
  KeptSlot slot(0);
  EXPECT_EQ(slot.OnScheduleReset(0, {path, 10}, ParseRestart(restart)).state,
            ShownInRow({path, 10}) ? S::kWait : S::kNone);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    SCOPED_TRACE("Restart0=" + std::string(restart) + ", step " + std::to_string(i));
    const KeepEffects e = s.event(slot);
    EXPECT_EQ(e.state, s.state);
    EXPECT_EQ(slot.State(), s.state);
    EXPECT_EQ(e.restart_in_ms, s.restart_in_ms);
    EXPECT_EQ(e.start, s.start);
    EXPECT_EQ(e.log, s.log);
  }
}

TEST(KeepRunning, QuickEndsBackOffAndALongRunResetsTheWait) {
  // The waits after each quick end in a row; then a run of a whole minute goes back to the first.
  const struct {
    const char* restart;
    std::vector<std::uint64_t> waits_s;
  } cases[] = {
      {"10", {10, 10, 60, 300, 300}},
      {"120", {120, 120, 120, 300}},  // a wait asked for that is longer than a step is kept
      {"600", {600, 600, 600, 600}},
  };
  for (const auto& c : cases) {
    std::vector<Step> steps = {Started(0)};
    std::uint64_t now = 0;
    for (const std::uint64_t wait : c.waits_s) {
      now += 59999;
      steps.push_back(EndAgain(now, wait));
      now += wait * 1000;
      steps.push_back(Due(now));
      steps.push_back(Started(now));
    }
    steps.push_back(EndAgain(now + 60000, c.waits_s.front()));
    RunScript(c.restart, steps);
  }
}

TEST(KeepRunning, WithoutAUsableSettingAnEndedProgramStaysEnded) {
  for (const char* restart : {"", "0", "-5", "ten"}) {
    RunScript(restart, {Started(0), {End(1000), S::kEnded}, {Timer(20000), S::kEnded}});
  }
  // A status code as exit code is logged in its hex form.
  RunScript("5", {Started(0),
                  {End(1000, 0xC0000005), S::kRestart, 5000, false,
                   "slot 1 ended (exit code 0xC0000005), started again in 5 s"}});
}

TEST(KeepRunning, FailedStartsAndShellDocumentsAreNotKept) {
  RunScript("5", {{Fail(0), S::kFailed}, {Timer(9000), S::kFailed}});
  RunScript("5", {{Open(0), S::kOpened}, {End(1000), S::kOpened}}, "D:\\Show\\intro.mp4");
  // A restart that fails stops the keeping; one that comes back without a process too.
  RunScript("5",
            {Started(0),
             EndAgain(1000, 5),
             Due(6000),
             {Fail(6000), S::kFailed, std::nullopt, false, "slot 1 could not be started again"},
             {Timer(20000), S::kFailed}});
  RunScript("5", {Started(0), EndAgain(1000, 5), Due(6000), {Open(6000), S::kOpened}});
  // A path of two characters is no program: nothing about it is kept.
  RunScript("5", {{Start(0), S::kNone}, {End(10), S::kNone}, {Timer(9000), S::kNone}}, "C:");
}

TEST(KeepRunning, APowerActionOrTheProgramsEndStopsRestartsForGood) {
  RunScript("5", {Started(0),
                  EndAgain(1000, 5),
                  {Stop(2000), S::kEnded, std::nullopt, false, "slot 1 not started again"},
                  {Timer(6000), S::kEnded}});
  const Step ended = {End(1000), S::kEnded, std::nullopt, false,
                      "slot 1 ended (exit code 3), not started again"};
  // The schedule may still start it once more after that.
  RunScript("5", {Started(0), {Stop(500), S::kRun}, ended, Started(2000), ended});
}

TEST(KeepRunning, NeverASecondCopy) {
  // Early, repeated and stale timers start nothing twice.
  RunScript("5", {Started(0),
                  {Timer(100), S::kRun},
                  EndAgain(1000, 5),
                  {Timer(4000), S::kRestart, 2000},  // early: armed again for the rest
                  Due(6000),
                  {Timer(6001), S::kRestart},  // already starting
                  Started(6500),
                  {Timer(7000), S::kRun},
                  EndAgain(7100, 5),
                  {End(7200), S::kRestart, 4900}});  // an end already counted

  // The schedule does not start a kept program that runs or is starting; it may start one whose
  // restart is pending, which then is not due any more.
  KeptSlot kept(1);
  kept.OnScheduleReset(0, {"b.exe", 5}, ParseRestart("30"));
  EXPECT_TRUE(kept.MayStart());
  kept.OnStarted(0);
  EXPECT_FALSE(kept.MayStart());
  EXPECT_EQ(kept.OnEnded(100, 1).log, "slot 2 ended (exit code 1), started again in 30 s");
  EXPECT_TRUE(kept.MayStart());
  // Save while the restart waits: the slot keeps waiting for it, the timer for the rest.
  EXPECT_EQ(kept.OnScheduleReset(10100, {"b.exe", 5}, ParseRestart("30")).restart_in_ms, 20000u);
  EXPECT_TRUE(kept.OnRestartDue(30100).start);
  EXPECT_FALSE(kept.MayStart());
  EXPECT_EQ(kept.OnStarted(30200).restart_in_ms, std::nullopt);
  kept.OnEnded(30300, 1);
  EXPECT_EQ(kept.OnStarted(30400).restart_in_ms, std::nullopt);  // by the schedule
  EXPECT_FALSE(kept.OnRestartDue(60300).start);

  // A slot that is not kept starts as it always has, a copy more each time.
  KeptSlot plain(2);
  plain.OnScheduleReset(0, {"c.exe", 5}, ParseRestart(""));
  plain.OnStarted(0);
  EXPECT_TRUE(plain.MayStart());
  plain.OnStarted(1000);
  EXPECT_EQ(plain.OnEnded(2000, 0).state, S::kRun);
  EXPECT_EQ(plain.OnEnded(3000, 0).state, S::kEnded);
  // A reset sends what does not run back to waiting for its delay; a removed path is no program.
  EXPECT_EQ(plain.OnScheduleReset(4000, {"c.exe", 5}, {}).state, S::kWait);
  EXPECT_EQ(plain.OnScheduleReset(4000, {"", 5}, {}).state, S::kNone);
}

TEST(KeepRunning, StateTextsAsThePeerReadsThem) {
  std::string texts;
  for (int i = 0; i <= static_cast<int>(S::kOpened); ++i) {
    texts += std::string(SlotStateText(static_cast<S>(i))) + " ";
  }
  EXPECT_EQ(texts, "none wait run ended restart failed opened ");
}

}  // namespace
}  // namespace qyr
