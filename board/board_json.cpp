#include "board/board_json.h"

#include <cstdio>

#include "board/local_clock.h"

namespace callsink {
namespace {

// Appends `text` (UTF-8) as a JSON string. "<", ">" and "&" are written as
// escapes too, so the document stays inert wherever it is pasted.
void Quote(const std::string& text, std::string* out) {
  *out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += c;
    } else if (byte < 0x20 || c == '<' || c == '>' || c == '&') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      *out += escape;
    } else {
      *out += c;
    }
  }
  *out += '"';
}

class JsonObject {
 public:
  explicit JsonObject(std::string* out) : out_(out) { *out_ += '{'; }
  ~JsonObject() { Close(); }
  JsonObject(const JsonObject&) = delete;
  JsonObject& operator=(const JsonObject&) = delete;

  std::string* Key(const char* name) {
    if (!first_) *out_ += ',';
    first_ = false;
    Quote(name, out_);
    *out_ += ':';
    return out_;
  }
  void Number(const char* name, int64_t value) { *Key(name) += std::to_string(value); }
  void Number(const char* name, const std::optional<int64_t>& value) {
    *Key(name) += value ? std::to_string(*value) : "null";
  }
  void Bool(const char* name, bool value) { *Key(name) += value ? "true" : "false"; }
  void Text(const char* name, const std::string& utf8) { Quote(utf8, Key(name)); }
  // Writes the closing brace now rather than at the end of the scope.
  void Close() {
    if (!closed_) *out_ += '}';
    closed_ = true;
  }

 private:
  std::string* const out_;
  bool first_ = true;
  bool closed_ = false;
};

// Appends "[", `write(object)` for each of `rows` that `keep` accepts, "]".
template <typename Rows, typename Keep, typename Write>
void WriteArray(std::string* out, const Rows& rows, const Keep& keep, const Write& write) {
  *out += '[';
  bool first = true;
  for (const auto& row : rows) {
    if (!keep(row)) continue;
    if (!first) *out += ',';
    first = false;
    JsonObject object(out);
    write(row, object);
  }
  *out += ']';
}

}  // namespace

std::string BoardJson::Utf8(const std::string& latin1) {
  std::string utf8;
  utf8.reserve(latin1.size());
  for (const char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

std::string BoardJson::Render(const BoardSnapshot& snapshot, uint64_t sequence,
                              const DatabaseState& database, const BoardSettings& settings,
                              const BoardFilter& filter) {
  std::string out;
  JsonObject top(&out);
  top.Number("time", snapshot.time);
  top.Text("clock", LocalClock::Text(snapshot.time));
  top.Number("day_start", snapshot.day_start);
  top.Number("snapshot", static_cast<int64_t>(sequence));
  {
    JsonObject state(top.Key("database"));
    state.Bool("reachable", database.reachable);
    if (!database.reachable) {
      state.Number("unreachable_since", database.unreachable_since);
      state.Text("unreachable_since_clock", LocalClock::Text(database.unreachable_since));
    }
  }
  {
    JsonObject limits(top.Key("limits"));
    limits.Number("service_level_seconds", settings.service_level_seconds);
    limits.Number("service_level_target", settings.service_level_target);
    limits.Number("longest_wait_limit", settings.longest_wait_limit);
    limits.Number("refresh_seconds", settings.refresh_seconds);
  }
  WriteArray(
      top.Key("groups"), snapshot.groups,
      [&](const BoardGroup& group) { return filter.Keeps(group.server, group.group); },
      [&](const BoardGroup& group, JsonObject& row) {
        row.Text("server", group.server);
        row.Text("group", group.group);
        row.Number("waiting", group.waiting);
        row.Number("longest_wait", group.longest_wait);
        row.Number("offered", group.offered);
        row.Number("answered", group.answered);
        row.Number("abandoned", group.abandoned);
        row.Number("service_level", group.service_level);
        row.Number("average_wait", group.average_wait);
        row.Bool("below_target",
                 group.service_level && *group.service_level < settings.service_level_target);
        row.Bool("over_wait_limit",
                 group.longest_wait && *group.longest_wait > settings.longest_wait_limit);
        JsonObject states(row.Key("agents_by_state"));
        for (const auto& [code, count] : group.agents_by_state) {
          states.Number(settings.StatusName(code).c_str(), count);
        }
      });
  WriteArray(
      top.Key("agents"), snapshot.agents,
      [&](const BoardAgent& agent) { return filter.Keeps(agent.server, agent.group); },
      [&](const BoardAgent& agent, JsonObject& row) {
        row.Text("server", agent.server);
        row.Text("agent", agent.agent);
        row.Text("name", agent.name);
        row.Text("group", agent.group);
        row.Text("state", settings.StatusName(agent.state));
        row.Number("state_code", agent.state);
        row.Number("since", agent.since);
        row.Number("answered", agent.answered);
      });
  top.Close();
  return out;
}

}  // namespace callsink
