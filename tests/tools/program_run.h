#pragma once

#include <string>
#include <utility>
#include <vector>

namespace callsink::test {

// One finished run of a program from the build's bin folder (CALLSINK_BIN),
// or of one given by its absolute path, with its output captured. The program inherits this
// process's environment plus `extra_env`; `input` is its standard input.
struct ProgramRun {
  int exit_code = -1;  // -1 when it could not be started or ended by a signal
  std::string out;
  std::string err;

  static ProgramRun Run(const std::string& program, const std::vector<std::string>& args,
                        const std::vector<std::pair<std::string, std::string>>& extra_env = {},
                        const std::string& input = {});
  // Full path of `program` in CALLSINK_BIN.
  static std::string PathOf(const std::string& program);
};

}  // namespace callsink::test
