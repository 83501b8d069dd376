#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace callsink {

// One group of one ACD server as the board shows it. Every name of the
// snapshot is in UTF-8: each byte acd_db holds (latin1) as its character.
struct BoardGroup {
  std::string server, group;
  int64_t waiting = 0;                               // Calls_inQueue
  std::optional<int64_t> longest_wait;               // seconds; none when no call is queued
  int64_t offered = 0, answered = 0, abandoned = 0;  // today
  std::optional<int64_t> service_level;              // per cent, rounded; none without calls
  std::optional<int64_t> average_wait;     // seconds, rounded; none without answered calls
  std::map<int, int64_t> agents_by_state;  // status code -> memberships in it
};

// One membership of an agent in a group, with the agent's status there.
struct BoardAgent {
  std::string server, agent, name, group;
  int state = 0;
  int64_t since = 0;     // the database host's clock, seconds since 1970
  int64_t answered = 0;  // calls the agent took today, in every group
};

// Everything the board shows at one moment, sorted by server and group
// (agents by server, agent and group).
struct BoardSnapshot {
  int64_t time = 0;       // the database host's clock
  int64_t day_start = 0;  // local midnight that began today, same clock
  std::vector<BoardGroup> groups;
  std::vector<BoardAgent> agents;
};

}  // namespace callsink
