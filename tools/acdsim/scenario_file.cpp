#include "tools/acdsim/scenario_file.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

namespace callsink::acdsim {
namespace {

// Names must leave room for the NUL of their 16-byte field.
constexpr size_t kMaxNameLength = 15;

// Splits a line into words: blanks separate, double quotes group, '#' outside
// quotes starts a comment. Nullopt when a quote is left open.
std::optional<std::vector<std::string>> Words(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
    } else if (line[i] == '#') {
      break;
    } else if (line[i] == '"') {
      const size_t end = line.find('"', i + 1);
      if (end == std::string_view::npos) return std::nullopt;
      words.emplace_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = i;
      while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end])) &&
             line[end] != '#') {
        ++end;
      }
      words.emplace_back(line.substr(i, end - i));
      i = end;
    }
  }
  return words;
}

std::string CheckName(const std::string& name, const char* what, bool may_be_empty) {
  if (name.empty() && !may_be_empty) return std::string(what) + " is empty";
  if (name.size() > kMaxNameLength) {
    return std::string(what) + " \"" + name + "\" is longer than 15 characters";
  }
  return {};
}

// Applies one statement; returns the reason when it is wrong.
std::string Apply(const std::vector<std::string>& words, CallCentre* centre) {
  const std::string& keyword = words[0];
  if (keyword == "group") {
    if (words.size() != 2) return "expected: group NAME";
    if (std::string reason = CheckName(words[1], "group name", false); !reason.empty()) {
      return reason;
    }
    if (centre->FindGroup(words[1]) != CallCentre::kNone) return "group defined twice";
    centre->AddGroup(words[1]);
    return {};
  }
  if (keyword == "agent") {
    if (words.size() != 3) return "expected: agent NAME FULL_NAME";
    if (std::string reason = CheckName(words[1], "agent name", false); !reason.empty()) {
      return reason;
    }
    if (std::string reason = CheckName(words[2], "full name", true); !reason.empty()) {
      return reason;
    }
    if (centre->FindAgent(words[1]) != CallCentre::kNone) return "agent defined twice";
    centre->AddAgent(words[1], words[2]);
    return {};
  }
  if (keyword == "member") {
    if (words.size() != 3 && words.size() != 4) return "expected: member GROUP AGENT [STATUS]";
    const uint32_t group = centre->FindGroup(words[1]);
    if (group == CallCentre::kNone) return "unknown group \"" + words[1] + "\"";
    const uint32_t agent = centre->FindAgent(words[2]);
    if (agent == CallCentre::kNone) return "unknown agent \"" + words[2] + "\"";
    if (centre->FindMembership(group, agent) != CallCentre::kNone) return "member listed twice";
    int32_t status = kAvailable;
    if (words.size() == 4) {
      const std::string& text = words[3];
      const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), status);
      if (failure != std::errc() || end != text.data() + text.size()) {
        return "status \"" + text + "\" is not a 32-bit integer";
      }
    }
    centre->AddMembership(group, agent, status);
    return {};
  }
  return "unknown statement \"" + keyword + "\"";
}

}  // namespace

bool ScenarioFile::Parse(std::string_view text, CallCentre* centre, std::string* error) {
  size_t line_number = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++line_number;
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;

    const auto words = Words(line);
    std::string reason;
    if (!words) {
      reason = "unclosed quote";
    } else if (!words->empty()) {
      reason = Apply(*words, centre);
    }
    if (!reason.empty()) {
      *error = "line " + std::to_string(line_number) + ": " + reason;
      return false;
    }
  }
  return true;
}

bool ScenarioFile::Load(const std::string& path, CallCentre* centre, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (!Parse(text.str(), centre, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace callsink::acdsim
