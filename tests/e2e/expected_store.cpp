#include "tests/e2e/expected_store.h"

#include <algorithm>
#include <span>

#include "protocol/acd_header.h"
#include "protocol/agent_list.h"
#include "protocol/call_body.h"
#include "protocol/cdr_body.h"
#include "protocol/config_update_body.h"
#include "protocol/full_agent_list.h"
#include "protocol/group_list.h"
#include "protocol/status_body.h"
#include "tests/e2e/collector_system.h"

namespace callsink::test {
namespace {

std::string Text(std::string_view view) { return std::string(view); }

template <typename T>
std::string Or(const std::optional<T>& value) {
  return value ? std::to_string(*value) : "NULL";
}

std::string Join(std::initializer_list<std::string> columns) {
  std::string line;
  bool first = true;
  for (const std::string& column : columns) {
    if (!first) line += '|';
    first = false;
    line += column;
  }
  return line;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

void ExpectedStore::ApplyRecord(const std::string& record_file, const std::string& connection) {
  for (const auto& message : RecordMessages(record_file, connection)) Apply(message);
}

std::vector<std::vector<uint8_t>> ExpectedStore::RecordMessages(const std::string& record_file,
                                                                const std::string& connection) {
  std::vector<std::vector<uint8_t>> messages;
  for (const auto& line : CollectorSystem::RecordLines(record_file, "out")) {
    if (line[2] == connection) messages.push_back(FromHex(line[7]));
  }
  return messages;
}

size_t ExpectedStore::events() const {
  size_t events = 0;
  for (const auto& [kind, count] : counts_) {
    if (kind.rfind("2:", 0) == 0) events += static_cast<size_t>(count);
  }
  return events;
}

void ExpectedStore::ClearDirectory() {
  groups_.clear();
  agents_.clear();
  relations_.clear();
}

void ExpectedStore::DeleteServerData() {
  ClearDirectory();
  status_rows_.clear();
  calls_.clear();
  cdrs_.clear();
}

void ExpectedStore::Apply(const std::vector<uint8_t>& message) {
  if (message.size() < wire::kHeaderSize) return;
  const AcdHeader header =
      HeaderToHost(std::span<const uint8_t, wire::kHeaderSize>(message.data(), wire::kHeaderSize));
  const std::optional<size_t> length = BodyLength(header);
  if (!length || header.result != 0 || message.size() < wire::kHeaderSize + *length) return;
  const uint8_t* body = message.data() + wire::kHeaderSize;
  const uint32_t t = header.timestamp;
  ++counts_[std::to_string(header.msg_class) + ":" + std::to_string(header.msg_type)];

  if (header.msg_class == 1 && header.msg_type == 4) {
    if (auto status = StatusBody::Decode(body, *length)) {
      WriteRelationStatus(Text(status->group), Text(status->agent), std::nullopt, status->status);
    }
  } else if (header.msg_class == 1 && header.msg_type == 5) {
    if (auto list = GroupList::Decode(body, *length)) {
      for (size_t i = 0; i < list->groups.size(); ++i) {
        WriteGroup(Text(list->groups.Name(i)), t, 1, true, 0);
      }
    }
  } else if (header.msg_class == 1 && header.msg_type == 6) {
    if (auto list = AgentList::Decode(body, *length)) {
      for (size_t i = 0; i < list->agents.size(); ++i) {
        WriteRelation(Text(list->group), Text(list->agents.Name(i)), t, 1);
      }
    }
  } else if (header.msg_class == 1 && header.msg_type == 7) {
    if (auto list = FullAgentList::Decode(body, *length)) {
      for (size_t i = 0; i < list->entries.size(); ++i) {
        WriteAgent(Text(list->agent(i)), Text(list->full_name(i)), t, 1, true);
      }
    }
  } else if (header.msg_class == 2 && header.msg_type == 0) {
    if (auto status = StatusBody::Decode(body, *length)) {
      WriteStatusInterval(Text(status->group), Text(status->agent), t, status->status);
      WriteRelationStatus(Text(status->group), Text(status->agent), t, status->status);
    }
  } else if (header.msg_class == 2 && header.msg_type == 1) {
    if (auto cdr = CdrBody::Decode(body, *length)) {
      ++rows_written_["stock_cdr"];
      cdrs_.push_back(
          Join({Text(cdr->group), Text(cdr->agent), std::to_string(cdr->call_time),
                std::to_string(cdr->call_duration), Text(cdr->caller_user), Text(cdr->call_guid),
                std::to_string(cdr->call_state), std::to_string(cdr->close_reason),
                std::to_string(cdr->queue_duration)}));
    }
  } else if (header.msg_class == 2 && header.msg_type == 2) {
    if (auto call = CallBody::Decode(body, *length)) {
      ++rows_written_["stock_calls"];
      calls_.push_back(
          Join({Text(call->group), Text(call->agent), std::to_string(t), Text(call->call_id),
                std::to_string(call->call_state), std::to_string(call->close_reason)}));
      WriteGroup(Text(call->group), t, 1, false, call->calls_in_queue);
    }
  } else if (header.msg_class == 2 && header.msg_type >= 3 && header.msg_type <= 5) {
    auto update = ConfigUpdateBody::Decode(body, *length);
    if (!update) return;
    if (header.msg_type == 3) {
      WriteGroup(Text(update->group), t, update->state, true, 0);
      if (update->state == 0) {
        for (auto& [membership, relation] : relations_) {
          if (membership.first != update->group) continue;
          ++rows_written_["stock_relations"];
          relation.timestamp = Time(t);
          relation.state = 0;
          if (relation.modified) ++*relation.modified;
        }
      }
    } else if (header.msg_type == 4) {
      WriteRelation(Text(update->group), Text(update->agent), t, update->state);
    } else {
      WriteAgent(Text(update->agent), Text(update->full_name), t, update->state, true);
    }
  }
}

void ExpectedStore::WriteGroup(const std::string& group, uint32_t timestamp, int32_t state,
                               bool modified, int32_t calls_in_queue) {
  ++rows_written_["stock_groups"];
  auto [it, inserted] = groups_.try_emplace(group, Group{timestamp, state, 1, calls_in_queue});
  if (inserted) return;
  it->second.timestamp = timestamp;
  it->second.state = state;
  it->second.calls_in_queue = calls_in_queue;
  if (modified) ++it->second.modified;
}

void ExpectedStore::WriteAgent(const std::string& agent, const std::string& full_name,
                               uint32_t timestamp, int32_t state, bool modified) {
  ++rows_written_["stock_agents"];
  auto [it, inserted] = agents_.try_emplace(agent, Agent{full_name, timestamp, state, 1});
  if (inserted) return;
  it->second.full_name = full_name;
  it->second.timestamp = timestamp;
  it->second.state = state;
  if (modified) ++it->second.modified;
}

void ExpectedStore::WriteRelation(const std::string& group, const std::string& agent,
                                  uint32_t timestamp, int32_t state) {
  ++rows_written_["stock_relations"];
  auto [it, inserted] = relations_.try_emplace({group, agent});
  Relation& relation = it->second;
  relation.timestamp = Time(timestamp);
  relation.state = state;
  if (inserted) {
    relation.modified = 1;
  } else if (relation.modified) {
    ++*relation.modified;
  }
}

void ExpectedStore::WriteRelationStatus(const std::string& group, const std::string& agent,
                                        Time timestamp, int32_t status) {
  ++rows_written_["stock_relations"];
  Relation& relation = relations_[{group, agent}];
  relation.timestamp = timestamp;
  relation.status = status;
}

void ExpectedStore::WriteStatusInterval(const std::string& group, const std::string& agent,
                                        uint32_t timestamp, int32_t status) {
  const auto it = relations_.find({group, agent});
  const bool active = it != relations_.end() && it->second.state == 1;
  std::string start;
  std::string previous;
  if (!active) {
    start = "0";
    previous = "0";
  } else if (!it->second.timestamp || !it->second.status) {
    start = std::to_string(timestamp);
    previous = std::to_string(status);
  } else {
    const Time begin = *it->second.timestamp;
    // The collector's clock lies before every time of the ACD server.
    const bool earlier = !begin || *begin < timestamp;
    if (*it->second.status == status || !earlier) return;
    start = begin ? std::to_string(*begin) : "CLOCK";
    previous = std::to_string(*it->second.status);
  }
  ++rows_written_["stock_status"];
  status_rows_.push_back(Join({group, agent, start, std::to_string(timestamp), previous}));
}

std::vector<std::string> ExpectedStore::Groups() const {
  std::vector<std::string> rows;
  for (const auto& [name, g] : groups_) {
    rows.push_back(Join({name, std::to_string(g.timestamp), std::to_string(g.state),
                         std::to_string(g.modified), std::to_string(g.calls_in_queue)}));
  }
  return rows;
}

std::vector<std::string> ExpectedStore::Agents() const {
  std::vector<std::string> rows;
  for (const auto& [name, a] : agents_) {
    rows.push_back(Join({name, a.full_name, std::to_string(a.timestamp), std::to_string(a.state),
                         std::to_string(a.modified)}));
  }
  return rows;
}

std::vector<std::string> ExpectedStore::Relations() const {
  std::vector<std::string> rows;
  for (const auto& [membership, r] : relations_) {
    const std::string time =
        !r.timestamp ? "NULL" : (*r.timestamp ? std::to_string(**r.timestamp) : "CLOCK");
    rows.push_back(Join(
        {membership.first, membership.second, time, Or(r.state), Or(r.modified), Or(r.status)}));
  }
  return rows;
}

}  // namespace callsink::test
