#include <iostream>
#include <string>
#include <vector>

#include "platform/system_paths.h"
#include "tools/callsinkreg/registry_tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  callsink::RegistryTool tool(callsink::SystemPaths::RegistryFile(), std::cout, std::cerr);
  const int code = tool.Run(args);
  std::cout.flush();
  return code;
}
