#include "tools/callsinkctl/terminal.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>

namespace callsink {

Terminal::Terminal(std::istream& in, std::ostream& err, bool interactive)
    : in_(in), err_(err), interactive_(interactive) {}

bool Terminal::Confirm(const std::string& question) {
  if (assume_yes_) return true;
  err_ << question << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(in_, answer)) return false;
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return answer == "y" || answer == "yes";
}

bool Terminal::ReadPassword(std::string* password) {
  termios saved{};
  const bool hide = interactive_ && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (hide) {
    // Echo goes off before the prompt shows, and nothing typed is
    // discarded: a password typed or pasted at once is neither shown nor lost.
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &silent);
    err_ << "Password: " << std::flush;
  }
  const bool read = static_cast<bool>(std::getline(in_, *password));
  if (hide) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    err_ << "\n";
  }
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return read;
}

}  // namespace callsink
