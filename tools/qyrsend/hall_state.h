#pragma once
// What the hall page knows of each PC: its state and, when it is down, why. Each PC's tracker
// takes the answers of the sweeps and the power actions sent to it; times are milliseconds of
// the wall clock (for "no answer since 10:32:05"). No sockets here.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "remote/status_reply.h"

namespace qyrsend {

enum class PcState {
  kUnknown,      // no sweep has answered for it yet
  kUp,           // answered with its status
  kDown,         // did not, for `reason`
  kWaking,       // woken, not answering yet
  kPoweringOff,  // a power command was taken, no countdown reported yet
  kCountingDown,
  kCancelled,  // the countdown was cancelled at the PC
};

enum class DownReason {
  kNone,
  kNoAnswer,   // no answer within the timeout
  kRefused,    // connection refused: QyrDelay not running or port closed
  kAllowList,  // accepted and closed unanswered: its AllowFrom does not list us
  kErr,        // answered ERR: an older QyrDelay without status
  kNotStatus,  // a reply that is not a status line
  kError,      // could not even try (name not resolved, no route)
};

std::string_view PcStateText(PcState state);         // "unknown", "up", ... "counting_down"
std::string_view DownReasonText(DownReason reason);  // "no_answer", ...; "" for kNone

// One answer as a status: kNone with the parse when it is one.
struct AnswerView {
  DownReason reason = DownReason::kNoAnswer;
  qyr::StatusReplyParse status;
  std::string detail;  // the bytes of a reply that was no status, the reason of an error
};
AnswerView ViewAnswer(const Outcome& outcome);

// The reply rule of a status query that also takes the power field.
std::optional<Outcome> ClassifyStatusReply(std::string_view bytes);

struct PcStatus {
  PcState state = PcState::kUnknown;
  DownReason reason = DownReason::kNone;
  std::string detail;
  std::optional<std::uint64_t> up_s;
  std::optional<std::array<qyr::SlotState, qyr::kStatusSlots>> slots;
  std::optional<std::int64_t> rtt_us;
  std::optional<std::int64_t> last_seen_ms;        // the last status answer
  std::optional<std::int64_t> no_answer_since_ms;  // the last answer, or the first sweep missed
  std::optional<qyr::LastPower> power;
};

// How long a PC that was woken or told to power off keeps that state while the sweeps do not
// show it otherwise.
inline constexpr std::int64_t kWakeWindowMs = 3 * 60 * 1000;
inline constexpr std::int64_t kPowerWindowMs = 60 * 1000;

class PcTracker {
 public:
  void OnAnswer(const Answer& answer, std::int64_t now_ms);
  void OnWakeSent(std::int64_t now_ms);
  // The PC's answer to QyrNOR_PC_OFF or QyrNOR_PC_REBOOT; only an OK starts the watch.
  void OnPowerSent(const Outcome& reply, std::int64_t now_ms);
  const PcStatus& status() const { return status_; }

 private:
  enum class Pending { kNone, kWake, kPower };
  PcStatus status_;
  Pending pending_ = Pending::kNone;
  std::int64_t pending_since_ms_ = 0;
};

struct HallSummary {
  int pcs = 0;
  int up = 0;  // answering with their status
  int programs_running = 0;
  int down = 0;
  int unknown = 0;
};
HallSummary Summarize(const std::vector<PcStatus>& statuses);

// "10:32:05" in the local time of this machine.
std::string ClockText(std::int64_t wall_ms);

}  // namespace qyrsend
