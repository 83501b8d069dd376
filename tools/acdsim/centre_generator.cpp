#include "tools/acdsim/centre_generator.h"

#include <array>
#include <string_view>

namespace callsink::acdsim {
namespace {

constexpr std::array<std::string_view, 16> kDepartments = {
    "Sales",     "Support",  "Billing",  "Orders",    "Returns",    "Service",
    "Technical", "Accounts", "Claims",   "Renewals",  "Onboarding", "Retention",
    "Dispatch",  "Helpdesk", "Bookings", "Complaints"};

constexpr std::array<std::string_view, 20> kFirstNames = {
    "Anna",  "Ben",  "Clara", "David", "Eva",  "Felix", "Greta", "Hugo", "Ida",  "Jonas",
    "Karin", "Lars", "Maja",  "Nils",  "Olga", "Paul",  "Rosa",  "Sven", "Tina", "Ugo"};

constexpr std::array<std::string_view, 20> kLastNames = {
    "Berg",   "Dahl",  "Eklund", "Falk",  "Gran",  "Holm",  "Issa",    "Jansen", "Krause", "Lind",
    "Moreau", "Novak", "Olsen",  "Petit", "Quinn", "Rossi", "Sanchez", "Toth",   "Varga",  "Weber"};

constexpr size_t kMaxNameLength = 15;

}  // namespace

std::string CentreGenerator::GroupName(size_t index) {
  if (index < kDepartments.size()) return std::string(kDepartments[index]);
  return "Queue" + std::to_string(index + 1);
}

std::string CentreGenerator::AgentName(size_t index) { return std::to_string(1001 + index); }

std::string CentreGenerator::FullName(SimRandom& random) {
  std::string name(kFirstNames[random.Below(kFirstNames.size())]);
  name += ' ';
  name += kLastNames[random.Below(kLastNames.size())];
  if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
  return name;
}

CallCentre CentreGenerator::Generate(size_t groups, size_t agents, uint64_t random_start) {
  SimRandom random(random_start);
  CallCentre centre;
  for (size_t i = 0; i < groups; ++i) centre.AddGroup(GroupName(i));
  for (size_t i = 0; i < agents; ++i) {
    const uint32_t agent = centre.AddAgent(AgentName(i), FullName(random));
    if (groups == 0) continue;
    const auto initial_status = [&random] {
      const uint32_t roll = random.Below(100);
      return roll < 70 ? kAvailable : roll < 85 ? kPaused : kLoggedOut;
    };
    const auto home = static_cast<uint32_t>(i % groups);
    centre.AddMembership(home, agent, initial_status());
    if (groups > 1 && random.Percent(40)) {
      const uint32_t other = (home + 1 + random.Below(static_cast<uint32_t>(groups - 1))) %
                             static_cast<uint32_t>(groups);
      centre.AddMembership(other, agent, initial_status());
    }
  }
  return centre;
}

}  // namespace callsink::acdsim
