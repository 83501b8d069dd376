#include "tools/acdsim/sim_options.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>
#include <vector>

#include "protocol/wire_format.h"

namespace callsink::acdsim {
namespace {

// Largest --bad-length: enough for every oversize case, small enough that
// one message stays cheap to send.
constexpr uint64_t kMaxBadLength = 65535;
constexpr uint64_t kMaxServers = 1000;
constexpr double kMaxRate = 1e9;
constexpr double kMaxSpeed = 1e6;
constexpr double kMaxCallsPerHour = 1e7;
constexpr double kMaxDirectoryChanges = 1e6;
constexpr double kSecondsPerDay = 86400;

template <typename Number>
bool ParseNumber(std::string_view text, Number* value, uint64_t max) {
  uint64_t parsed = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (failure != std::errc() || end != text.data() + text.size() || parsed > max) return false;
  *value = static_cast<Number>(parsed);
  return true;
}

bool ParseDecimal(std::string_view text, double* value, double min, double max) {
  double parsed = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (failure != std::errc() || end != text.data() + text.size()) return false;
  if (!(parsed >= min && parsed <= max)) return false;  // NaN fails too
  *value = parsed;
  return true;
}

bool ParseClass(std::string_view text, uint16_t* msg_class) {
  if (text == "request") {
    *msg_class = static_cast<uint16_t>(wire::MessageClass::kRequest);
  } else if (text == "response") {
    *msg_class = static_cast<uint16_t>(wire::MessageClass::kResponse);
  } else if (text == "event") {
    *msg_class = static_cast<uint16_t>(wire::MessageClass::kEvent);
  } else {
    return ParseNumber(text, msg_class, UINT16_MAX);
  }
  return true;
}

// CLASS:TYPE[:RESULT]; RESULT only where `result` is given.
bool ParseKind(std::string_view text, SimOptions::MessageKind* kind, uint16_t* result) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t colon; (colon = text.find(':', start)) != std::string_view::npos; start = colon + 1) {
    parts.push_back(text.substr(start, colon - start));
  }
  parts.push_back(text.substr(start));
  if (parts.size() < 2 || parts.size() > (result != nullptr ? 3u : 2u)) return false;
  if (!ParseClass(parts[0], &kind->msg_class)) return false;
  if (!ParseNumber(parts[1], &kind->msg_type, UINT16_MAX)) return false;
  if (parts.size() == 3) return ParseNumber(parts[2], result, UINT16_MAX) && *result != 0;
  return true;
}

bool ParseListen(std::string_view text, SimOptions* options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::string host(text.substr(0, colon));
  in_addr address{};
  if (inet_pton(AF_INET, host.c_str(), &address) != 1) return false;
  options->listen_host = host;
  return ParseNumber(text.substr(colon + 1), &options->listen_port, UINT16_MAX);
}

}  // namespace

bool SimOptions::Parse(int argc, const char* const* argv, SimOptions* options, std::string* error) {
  bool groups_given = false;
  bool speed_given = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (flag == "--help" || flag == "-h") {
      options->help = true;
      continue;
    }
    if (flag == "--names-without-nul") {
      options->faults.names_without_nul = true;
      continue;
    }
    if (i + 1 >= argc) {
      *error = "unknown flag or missing value: " + std::string(flag);
      return false;
    }
    const std::string_view value = argv[++i];
    Faults& faults = options->faults;
    CallCentreModel::Parameters& day = options->day;
    bool ok = true;
    if (flag == "--listen") {
      ok = ParseListen(value, options);
    } else if (flag == "--servers") {
      ok = ParseNumber(value, &options->servers, kMaxServers) && options->servers > 0;
    } else if (flag == "--scenario") {
      options->scenario_path = value;
    } else if (flag == "--groups") {
      ok = ParseNumber(value, &options->groups, UINT16_MAX);
      groups_given = true;
    } else if (flag == "--agents") {
      ok = ParseNumber(value, &options->agents, UINT16_MAX);
      groups_given = true;
    } else if (flag == "--seed") {
      ok = ParseNumber(value, &options->random_start, UINT64_MAX);
    } else if (flag == "--rate") {
      options->rate.emplace();
      ok = ParseDecimal(value, &*options->rate, 0, kMaxRate);
    } else if (flag == "--speed") {
      ok = ParseDecimal(value, &options->speed, 0, kMaxSpeed) && options->speed > 0;
      speed_given = true;
    } else if (flag == "--calls-per-hour") {
      ok = ParseDecimal(value, &day.calls_per_hour, 0, kMaxCallsPerHour) && day.calls_per_hour > 0;
    } else if (flag == "--talk-time") {
      ok = ParseDecimal(value, &day.talk_seconds, 1, kSecondsPerDay);
    } else if (flag == "--wrap-up") {
      ok = ParseDecimal(value, &day.wrap_up_seconds, 0, kSecondsPerDay);
    } else if (flag == "--patience") {
      ok = ParseDecimal(value, &day.patience_seconds, 1, kSecondsPerDay);
    } else if (flag == "--directory-changes") {
      ok = ParseDecimal(value, &day.directory_changes_per_hour, 0, kMaxDirectoryChanges);
    } else if (flag == "--profile") {
      const std::optional<DayProfile> profile = DayProfile::Parse(value);
      ok = profile.has_value();
      if (ok) day.profile = *profile;
    } else if (flag == "--events") {
      options->max_events.emplace();
      ok = ParseNumber(value, &*options->max_events, UINT64_MAX);
    } else if (flag == "--start-time") {
      options->start_time.emplace();
      ok = ParseNumber(value, &*options->start_time, UINT32_MAX);
    } else if (flag == "--record") {
      options->record_path = value;
    } else if (flag == "--close-after") {
      faults.close_after.emplace();
      ok = ParseNumber(value, &*faults.close_after, UINT64_MAX);
    } else if (flag == "--split-records") {
      ok = ParseNumber(value, &faults.split_bytes, wire::kMaxMessageSize) && faults.split_bytes > 0;
    } else if (flag == "--bad-length") {
      faults.bad_length.emplace();
      ok = ParseNumber(value, &*faults.bad_length, kMaxBadLength);
    } else if (flag == "--unknown-message") {
      faults.unknown_message.emplace();
      ok = ParseKind(value, &*faults.unknown_message, nullptr);
    } else if (flag == "--fail-result") {
      faults.fail_kind.emplace();
      ok = ParseKind(value, &*faults.fail_kind, &faults.fail_result);
    } else if (flag == "--count-beyond") {
      ok = ParseNumber(value, &faults.count_beyond, UINT32_MAX);
    } else if (flag == "--short-bodies") {
      ok = ParseNumber(value, &faults.short_bodies, wire::kMaxMessageSize);
    } else if (flag == "--stop-reading") {
      faults.stop_reading_after.emplace();
      ok = ParseNumber(value, &*faults.stop_reading_after, UINT64_MAX);
    } else {
      *error = "unknown flag: " + std::string(flag);
      return false;
    }
    if (!ok) {
      *error = "bad value for " + std::string(flag) + ": " + std::string(value);
      return false;
    }
  }
  if (groups_given && !options->scenario_path.empty()) {
    *error = "--scenario and --groups/--agents exclude each other";
    return false;
  }
  if (speed_given && options->rate) {
    *error = "--speed and --rate exclude each other";
    return false;
  }
  return true;
}

std::string SimOptions::HelpText() {
  return R"(Usage: acdsim [FLAG...]

An ACD server on TCP for tests, demos and benchmarks. It answers the collector's
requests from a call centre (a scenario file or a generated one) at work through
its day, and pushes the centre's events to every connection subscribed to their
stream. Prints "listening HOST:PORT" for each listener; SIGTERM or SIGINT stop
it with a one-line summary.

Server:
  --listen HOST:PORT     dotted IPv4 address and port to listen on
                         (default 127.0.0.1:0; port 0 picks a free port)
  --servers N            N listeners, each its own ACD server (default 1); with
                         a fixed PORT they take PORT, PORT+1, ...
  --record FILE          write every request received, every message sent and
                         every event no connection received to FILE, one line
                         each (format in README.md)

Call centre:
  --scenario FILE        read groups, agents and memberships from FILE
  --groups N             generate N groups (default 4)
  --agents M             generate M agents (default 20)
  --seed S               start of the random sequence (default 1); the same
                         value gives the same centre and the same events
  --start-time T         the server clock's start, seconds since 1970
                         (default: now)
  --speed N              the simulated clock runs N times as fast as the wall
                         clock (default 1); the server's timestamps follow it
  --rate R               instead of the clock, R events per second, from the
                         first subscription on (0 = as fast as the subscribed
                         connections take them)
  --events N             each server's centre stops after N events
                         (default: never)

The working day (see README.md):
  --calls-per-hour N     calls per hour over all groups at the busiest hour
                         (default: as many as the whole staff answers well)
  --talk-time S          mean talk time in seconds, long-tailed (default 240)
  --wrap-up S            mean wrap-up after a call in seconds (default 30)
  --patience S           mean wait before a caller gives up, seconds (default 90)
  --profile P            the day's shape in local time: standard (default),
                         flat, or 24 comma-separated weights for 0:00..23:00
  --directory-changes N  directory changes per hour (default 0.25)

Faults (each applies to every message it concerns):
  --close-after N        close a connection after sending it N messages
  --split-records B      write every message in pieces of B bytes, each its own
                         TCP segment about 1 ms apart
  --bad-length L         every event's header says length L; L-20 body bytes
                         follow (cut or zero-padded), none when L < 20
  --unknown-message C:T  send a message of class C and type T (36 zero body
                         bytes) before every event; C is a number or
                         request/response/event
  --fail-result C:T[:R]  messages of class C and type T carry result R
                         (default 3) and no body
  --names-without-nul    every name fills its 16-byte field, with no NUL
                         (names are padded with '_')
  --count-beyond N       list responses say they hold N more entries than sent
  --short-bodies B       fixed-layout bodies (Status, CDR, Call, updates) are
                         sent B bytes shorter than their layout
  --stop-reading N       answer the first N requests of a connection, then
                         never read from it again

  --help                 show this text
)";
}

}  // namespace callsink::acdsim
