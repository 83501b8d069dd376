#include "health/process_figures.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace callsink {
namespace {

// Fields of /proc/self/stat counted from 1, as proc(5) numbers them.
constexpr size_t kUserTime = 14;
constexpr size_t kSystemTime = 15;
constexpr size_t kStartTime = 22;
constexpr size_t kVirtualSize = 23;
constexpr size_t kResidentPages = 24;
// The fields before the ones split below: pid and (comm), which may hold blanks.
constexpr size_t kFieldsBeforeState = 2;

// The fields after the command name, from field 3 on; empty on failure.
std::vector<std::string> StatFields() {
  std::ifstream file("/proc/self/stat");
  std::string line;
  std::getline(file, line);
  const size_t name_end = line.rfind(')');
  if (name_end == std::string::npos) return {};
  std::istringstream rest(line.substr(name_end + 1));
  std::vector<std::string> fields;
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

uint64_t Field(const std::vector<std::string>& fields, size_t number) {
  const size_t index = number - kFieldsBeforeState - 1;
  return index < fields.size() ? std::stoull(fields[index]) : 0;
}

// The system's boot time in seconds since 1970.
uint64_t BootTime() {
  std::ifstream file("/proc/stat");
  for (std::string key; file >> key;) {
    if (key == "btime") {
      uint64_t seconds = 0;
      file >> seconds;
      return seconds;
    }
    file.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return 0;
}

uint64_t OpenDescriptors() {
  std::error_code error;
  uint64_t count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return count;
}

}  // namespace

ProcessFigures ProcessFigures::Read() {
  ProcessFigures figures;
  const std::vector<std::string> fields = StatFields();
  const auto ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  if (fields.size() + kFieldsBeforeState >= kResidentPages && ticks > 0) {
    figures.cpu_seconds =
        static_cast<double>(Field(fields, kUserTime) + Field(fields, kSystemTime)) / ticks;
    figures.start_time_seconds =
        static_cast<double>(BootTime()) + static_cast<double>(Field(fields, kStartTime)) / ticks;
    figures.virtual_bytes = Field(fields, kVirtualSize);
    figures.resident_bytes = Field(fields, kResidentPages) * page;
  }
  figures.open_fds = OpenDescriptors();
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) figures.max_fds = limit.rlim_cur;
  return figures;
}

}  // namespace callsink
