#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace callsink {

// The command interpreter of `callsinkreg`, a small tool over the
// configuration store:
//
//   query KEY                          values as NAME<TAB>TYPE<TAB>DATA, then subkeys as KEY\SUB
//   query KEY NAME                     the value's data only
//   add KEY                            creates the key and its parents
//   add KEY NAME DATA [REG_SZ|REG_DWORD]  sets a value, creating the key
//   delete KEY                         deletes the key with its subtree
//   delete KEY NAME                    deletes one value
//   export                             the whole tree, one line per key and value, sorted
//
// Keys are written with backslashes, relative to HKEY_LOCAL_MACHINE. Only
// "add" may create the registry file; every other command needs an existing
// one and leaves a file that is not a registry untouched.
class RegistryTool {
 public:
  // Exit codes of Run.
  static constexpr int kSuccess = 0;
  static constexpr int kFailure = 1;  // missing key or value, unusable registry file
  static constexpr int kUsage = 2;    // unknown command, wrong arguments

  // `file` is the registry file; `out` and `err` must outlive the object.
  RegistryTool(std::string file, std::ostream& out, std::ostream& err);

  // Runs one command line (without the program name); returns the exit code.
  int Run(const std::vector<std::string>& args);

 private:
  int Query(const std::vector<std::string>& args);
  int Add(const std::vector<std::string>& args);
  int Delete(const std::vector<std::string>& args);
  int Export(const std::vector<std::string>& args);

  bool OpenRegistry(Registry::OpenMode mode);
  int Fail(const std::string& message);
  int Usage(const std::string& message);

  Registry registry_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace callsink
