#pragma once
// The morning start: wakes a hall zone after zone, a few PCs a second, and keeps at each PC
// until its QyrDelay answers with every configured program running. A state machine: ticks and
// answers in, the packets to send, the PCs to ask and the changes to show out. Times are a
// monotonic clock in milliseconds. No sockets here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hall_state.h"

namespace qyrsend {

struct StartSettings {
  int zone_gap_s = 20;   // between the last wake of one zone and the first of the next
  int wake_batch = 10;   // PCs woken per second within a zone
  int wake_tries = 8;    // magic packets per PC while it does not answer
  int rewake_s = 15;     // between them
  int ask_every_s = 5;   // status queries to the PCs under way
  int programs_s = 120;  // from its first answer, for its programs to run
};

enum class StartStep { kQueued, kWaking, kAnswering, kProgramsRunning, kReady, kFailed };
std::string_view StartStepText(StartStep step);  // "queued", ... "programs_running", ...

enum class StartFailure {
  kNone,
  kNeverAnswered,
  kNoMac,          // never answered, and there was no MAC to wake it
  kProgramFailed,  // answers, but a program failed or ended
  kProgramsLate,   // answers, but a program was not running in time
  kOlderProgram,   // answers ERR
  kAllowList,      // refuses us
  kNotStatus,      // answers something that is no status
};
std::string_view StartFailureText(StartFailure failure);  // "never_answered", ...

struct StartPcInput {
  bool has_mac = false;
};

struct StartChange {
  std::size_t pc = 0;  // index into the machine's PCs
  StartStep step = StartStep::kQueued;
  StartFailure failure = StartFailure::kNone;
  int slot = 0;  // 1..4, the program of kProgramFailed or kProgramsLate
  qyr::SlotState slot_state = qyr::SlotState::kNone;
};

// "ready", "failed: never answered", "failed: answers but program 2 failed".
std::string StartChangeText(const StartChange& change);

struct StartEffects {
  std::vector<std::size_t> wake;  // send their magic packets now
  std::vector<std::size_t> ask;   // ask their status now and hand the answers back
  std::vector<StartChange> changes;
};

class MorningStart {
 public:
  // Zones in the order they are woken, each a list of PCs; the machine's PC indices run over
  // them in that order.
  MorningStart(const std::vector<std::vector<StartPcInput>>& zones, StartSettings settings);

  StartEffects OnTick(std::int64_t now_ms);
  StartEffects OnAnswer(std::size_t pc, const AnswerView& answer, std::int64_t now_ms);

  bool Done() const;
  bool AllReady() const;
  // When the last PC became ready, once all are.
  std::optional<std::int64_t> ReadyAt() const;
  std::size_t size() const { return pcs_.size(); }
  const StartChange& Current(std::size_t pc) const { return pcs_[pc].shown; }

 private:
  struct Pc {
    bool has_mac = false;
    std::size_t zone = 0;
    StartChange shown;
    int tries = 0;
    std::int64_t first_wake_ms = 0;
    std::int64_t last_wake_ms = 0;
    std::optional<std::int64_t> first_answer_ms;
    std::int64_t ready_ms = 0;
  };
  void Move(std::size_t pc, StartChange change, StartEffects& effects);

  StartSettings settings_;
  std::vector<Pc> pcs_;
  std::vector<std::vector<std::size_t>> zones_;
  std::size_t zone_ = 0;  // the zone being woken
  std::size_t next_ = 0;  // its next PC to wake
  std::int64_t next_batch_ms_ = 0;
  std::optional<std::int64_t> next_ask_ms_;
};

}  // namespace qyrsend
