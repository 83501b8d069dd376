#pragma once

#include <cstdint>
#include <string>

namespace callsink {

// A group's calls in one row of a report, as sums, so that rows add up to
// the totals exactly.
struct GroupFigures {
  int64_t offered = 0;
  int64_t answered = 0;
  int64_t answered_in_time = 0;  // within the service level's seconds
  int64_t wait_seconds = 0;      // of the answered calls
  int64_t talk_seconds = 0;      // of the answered calls
  int64_t wrap_ups = 0;          // answered calls whose wrap-up was found
  int64_t wrap_up_seconds = 0;   // of those

  void Add(const GroupFigures& other) {
    offered += other.offered;
    answered += other.answered;
    answered_in_time += other.answered_in_time;
    wait_seconds += other.wait_seconds;
    talk_seconds += other.talk_seconds;
    wrap_ups += other.wrap_ups;
    wrap_up_seconds += other.wrap_up_seconds;
  }
  int64_t abandoned() const { return offered - answered; }
  // Shares and averages are 0 where nothing was offered or answered.
  double service_level() const { return Share(answered_in_time, offered); }
  double average_wait() const { return Share(wait_seconds, answered); }
  // Talk plus wrap-up, as docs/reports.sql computes it.
  double average_handle() const {
    return answered == 0 ? 0 : Share(talk_seconds, answered) + Share(wrap_up_seconds, wrap_ups);
  }

  static double Share(int64_t part, int64_t whole) {
    return whole == 0 ? 0 : static_cast<double>(part) / static_cast<double>(whole);
  }
};

// An agent's time (seconds) and calls in one row of a report.
struct AgentFigures {
  int64_t logged_on = 0;
  int64_t available = 0;
  int64_t on_calls = 0;
  int64_t wrap_up = 0;
  int64_t answered = 0;

  // Logged on but neither available, on calls nor in wrap-up: breaks.
  int64_t other() const { return logged_on - available - on_calls - wrap_up; }
  // On calls and in wrap-up out of available, on calls and in wrap-up.
  double occupancy() const {
    return GroupFigures::Share(on_calls + wrap_up, available + on_calls + wrap_up);
  }
};

struct GroupRow {
  std::string server;
  std::string group;
  int64_t start = 0;  // the ACD server's clock, seconds since 1970
  int64_t end = 0;
  GroupFigures figures;
};

struct AgentRow {
  std::string server;
  std::string agent;
  std::string name;  // the agent's full name, "" when unknown
  int64_t start = 0;
  int64_t end = 0;
  AgentFigures figures;
};

struct AbandonedCall {
  std::string server;
  std::string group;
  int64_t time = 0;    // when the call came in
  int64_t waited = 0;  // seconds in the queue
  std::string caller;
  std::string call_guid;
};

}  // namespace callsink
