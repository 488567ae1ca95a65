// Whether a Windows Firewall rule exists, asked of INetFwPolicy2.
#pragma once

#include <chrono>
#include <string>

#include "common/result.h"

namespace nuv {

// How long the firewall is given to answer.
inline constexpr std::chrono::milliseconds kFirewallAnswerLimit{5000};

// True when the firewall has a rule of that name, false when it answers
// "not found"; any other answer, or none within `limit`, is an error.
//
// INetFwRules::Item calls into the firewall service, which can be slow or
// stuck. The whole COM conversation therefore runs on a thread of its own,
// which initialises and uninitialises COM itself and owns everything it
// touches; this call waits for it at most `limit`. A thread that has not
// answered by then is left to finish on its own, and its answer is dropped;
// until it has finished, every further call fails at once without asking,
// since the service would most likely keep the next question waiting too.
// COM is first touched here, never before.
Result<bool, std::string> firewall_rule_exists(
    const std::string& rule_name, std::chrono::milliseconds limit = kFirewallAnswerLimit);

}  // namespace nuv
