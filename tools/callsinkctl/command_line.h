#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace callsink {

// The words and options of one callsinkctl command line. Options are
// "--name VALUE", "--name=VALUE" or, for flags, "--name"; "--" ends the
// options, so that a later word may start with "-".
class CommandLine {
 public:
  // Option names taking a value, and flags.
  static const std::set<std::string> kValueOptions;
  static const std::set<std::string> kFlags;

  // False with error() set for an unknown option, a value given to a flag or
  // a missing value; the object is then unusable.
  bool Parse(const std::vector<std::string>& args);

  const std::vector<std::string>& words() const { return words_; }
  std::optional<std::string> Value(const std::string& name) const;
  bool Flag(const std::string& name) const { return flags_.contains(name); }
  // The first option given that is not in `accepted`; empty when none.
  std::string FirstOptionOutside(const std::set<std::string>& accepted) const;
  const std::string& error() const { return error_; }

 private:
  std::vector<std::string> words_;
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  std::string error_;
};

}  // namespace callsink
