#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "platform/process_info.h"
#include "platform/system_paths.h"
#include "tools/callsinkctl/control_tool.h"
#include "tools/callsinkctl/terminal.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  callsink::Terminal terminal(std::cin, std::cerr, isatty(STDIN_FILENO) == 1);
  callsink::ControlTool tool(callsink::SystemPaths::RegistryFile(),
                             callsink::ProcessInfo::ExecutableFolder(), terminal, std::cout,
                             std::cerr);
  const int code = tool.Run(args);
  std::cout.flush();
  return code;
}
