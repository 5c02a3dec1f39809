#pragma once
// --status: how a hall's status replies (read by remote/status_reply) are reported, as lines for
// a person or as JSON for a script. No sockets here.
#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launch/keep_running.h"
#include "remote/protocol.h"
#include "remote/status_reply.h"
#include "replies.h"

namespace qyrsend {

// The reply rule of a status query: "OK" alone is no answer yet.
std::optional<Outcome> ClassifyStatus(std::string_view bytes);

// The lines of --status: one per host in the order given, then the summary.
std::string StatusReport(const std::vector<Target>& targets, const std::vector<Answer>& answers);

// What --status --json has always shown of a host's last answer (none: not asked yet): host,
// port, ok, error, detail, rtt_ms, up_s and slots. The hall's PC object begins with them.
nlohmann::ordered_json StatusFields(const Target& target, const std::optional<Answer>& answer);

// 0: every host answered with its status and no slot failed; 1 otherwise.
int StatusExitCode(const std::vector<Answer>& answers);

}  // namespace qyrsend
