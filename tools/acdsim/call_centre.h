#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace callsink::acdsim {

// Agent status codes the simulator uses in Status messages.
enum AgentStatus : int32_t {
  kLoggedOut = 0,
  kAvailable = 1,
  kBusy = 2,
  kWrapUp = 3,
  kPaused = 4,
};

// The directory of one simulated ACD server: groups, agents with full names,
// and memberships, each with the agent's status in that group.
//
// Entries live in slots that keep their number for as long as the entry is
// present; a removed entry's slot keeps its names until a later addition
// reuses it, so an event that refers to a slot can still be encoded after
// the removal it reports. Lists come out in slot order.
//
// A value type; each simulated server works on its own copy.
class CallCentre {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  struct Group {
    std::string name;
    bool present = true;
    std::vector<uint32_t> members;  // membership slots, in joining order
  };
  struct Agent {
    std::string name;
    std::string full_name;
    bool present = true;
    std::vector<uint32_t> memberships;  // membership slots, in joining order
  };
  struct Membership {
    uint32_t group = kNone;
    uint32_t agent = kNone;
    int32_t status = kLoggedOut;
    bool present = true;
  };

  // Add* return the new entry's slot; they do not check for duplicates
  // (see FindGroup / FindAgent / FindMembership).
  uint32_t AddGroup(std::string name);
  uint32_t AddAgent(std::string name, std::string full_name);
  uint32_t AddMembership(uint32_t group, uint32_t agent, int32_t status);
  // Removing a group removes its memberships; removing an agent removes its
  // memberships.
  void RemoveGroup(uint32_t group);
  void RemoveAgent(uint32_t agent);
  void RemoveMembership(uint32_t membership);

  // Present entries by name; kNone when missing. A name of 15 characters
  // also finds a 16-character name that starts with it: that is what a
  // client sends back after receiving a name that filled its field.
  uint32_t FindGroup(std::string_view name) const;
  uint32_t FindAgent(std::string_view name) const;
  uint32_t FindMembership(uint32_t group, uint32_t agent) const;

  const std::vector<Group>& groups() const { return groups_; }
  const std::vector<Agent>& agents() const { return agents_; }
  const std::vector<Membership>& memberships() const { return memberships_; }
  const Group& group(uint32_t slot) const { return groups_[slot]; }
  const Agent& agent(uint32_t slot) const { return agents_[slot]; }
  const Membership& membership(uint32_t slot) const { return memberships_[slot]; }
  void SetStatus(uint32_t membership, int32_t status) { memberships_[membership].status = status; }

  size_t group_count() const { return group_count_; }
  size_t agent_count() const { return agent_count_; }
  size_t membership_count() const { return membership_count_; }

  // From now on every group, agent and full name, present and future, is
  // extended to 16 characters with '_', so no name fits its field with a NUL.
  void FillNamesToFieldWidth();

 private:
  static uint32_t Find(const std::unordered_map<std::string, uint32_t>& index,
                       std::string_view name);
  std::string Filled(std::string name) const;
  template <typename Entry>
  static uint32_t Claim(std::vector<Entry>& slots, std::vector<uint32_t>& free_slots);

  std::vector<Group> groups_;
  std::vector<Agent> agents_;
  std::vector<Membership> memberships_;
  std::vector<uint32_t> free_groups_;
  std::vector<uint32_t> free_agents_;
  std::vector<uint32_t> free_memberships_;
  std::unordered_map<std::string, uint32_t> group_index_;
  std::unordered_map<std::string, uint32_t> agent_index_;
  size_t group_count_ = 0;
  size_t agent_count_ = 0;
  size_t membership_count_ = 0;
  bool fill_names_ = false;
};

}  // namespace callsink::acdsim
