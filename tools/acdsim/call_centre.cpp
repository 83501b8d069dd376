#include "tools/acdsim/call_centre.h"

#include <algorithm>

namespace callsink::acdsim {
namespace {

constexpr size_t kFieldWidth = 16;

}  // namespace

template <typename Entry>
uint32_t CallCentre::Claim(std::vector<Entry>& slots, std::vector<uint32_t>& free_slots) {
  if (!free_slots.empty()) {
    const uint32_t slot = free_slots.back();
    free_slots.pop_back();
    slots[slot] = Entry{};
    return slot;
  }
  slots.emplace_back();
  return static_cast<uint32_t>(slots.size() - 1);
}

std::string CallCentre::Filled(std::string name) const {
  if (fill_names_) name.resize(kFieldWidth, '_');
  return name;
}

uint32_t CallCentre::AddGroup(std::string name) {
  name = Filled(std::move(name));
  const uint32_t slot = Claim(groups_, free_groups_);
  group_index_[name] = slot;
  groups_[slot].name = std::move(name);
  ++group_count_;
  return slot;
}

uint32_t CallCentre::AddAgent(std::string name, std::string full_name) {
  name = Filled(std::move(name));
  full_name = Filled(std::move(full_name));
  const uint32_t slot = Claim(agents_, free_agents_);
  agent_index_[name] = slot;
  agents_[slot].name = std::move(name);
  agents_[slot].full_name = std::move(full_name);
  ++agent_count_;
  return slot;
}

uint32_t CallCentre::AddMembership(uint32_t group, uint32_t agent, int32_t status) {
  const uint32_t slot = Claim(memberships_, free_memberships_);
  memberships_[slot] = Membership{group, agent, status, true};
  groups_[group].members.push_back(slot);
  agents_[agent].memberships.push_back(slot);
  ++membership_count_;
  return slot;
}

void CallCentre::RemoveMembership(uint32_t membership) {
  Membership& entry = memberships_[membership];
  if (!entry.present) return;
  entry.present = false;
  const auto forget = [membership](std::vector<uint32_t>& slots) {
    slots.erase(std::find(slots.begin(), slots.end(), membership));
  };
  forget(groups_[entry.group].members);
  forget(agents_[entry.agent].memberships);
  free_memberships_.push_back(membership);
  --membership_count_;
}

void CallCentre::RemoveGroup(uint32_t group) {
  Group& entry = groups_[group];
  if (!entry.present) return;
  while (!entry.members.empty()) RemoveMembership(entry.members.back());
  entry.present = false;
  group_index_.erase(entry.name);
  free_groups_.push_back(group);
  --group_count_;
}

void CallCentre::RemoveAgent(uint32_t agent) {
  Agent& entry = agents_[agent];
  if (!entry.present) return;
  while (!entry.memberships.empty()) RemoveMembership(entry.memberships.back());
  entry.present = false;
  agent_index_.erase(entry.name);
  free_agents_.push_back(agent);
  --agent_count_;
}

uint32_t CallCentre::Find(const std::unordered_map<std::string, uint32_t>& index,
                          std::string_view name) {
  const auto exact = index.find(std::string(name));
  if (exact != index.end()) return exact->second;
  if (name.size() != kFieldWidth - 1) return kNone;
  for (const auto& [full, slot] : index) {
    if (full.size() == kFieldWidth && full.starts_with(name)) return slot;
  }
  return kNone;
}

uint32_t CallCentre::FindGroup(std::string_view name) const { return Find(group_index_, name); }

uint32_t CallCentre::FindAgent(std::string_view name) const { return Find(agent_index_, name); }

uint32_t CallCentre::FindMembership(uint32_t group, uint32_t agent) const {
  for (uint32_t slot : groups_[group].members) {
    if (memberships_[slot].agent == agent) return slot;
  }
  return kNone;
}

void CallCentre::FillNamesToFieldWidth() {
  fill_names_ = true;
  const auto fill = [this](std::string& name) { name = Filled(std::move(name)); };
  group_index_.clear();
  agent_index_.clear();
  for (uint32_t slot = 0; slot < groups_.size(); ++slot) {
    fill(groups_[slot].name);
    if (groups_[slot].present) group_index_[groups_[slot].name] = slot;
  }
  for (uint32_t slot = 0; slot < agents_.size(); ++slot) {
    fill(agents_[slot].name);
    fill(agents_[slot].full_name);
    if (agents_[slot].present) agent_index_[agents_[slot].name] = slot;
  }
}

}  // namespace callsink::acdsim
