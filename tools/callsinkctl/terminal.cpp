#include "tools/callsinkctl/terminal.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <istream>
#include <iterator>
#include <ostream>
#include <utility>

namespace callsink {
namespace {

// The terminal's settings while a password is typed without echo, for the
// handler below; the prompt runs on the main thread only.
termios settings_to_restore{};

// Ctrl+C, a stop or a closed terminal ends the program while the echo is
// off: give the terminal its settings back first, then end as the signal
// would have. tcsetattr and raise are async-signal-safe.
void RestoreTerminalAndEnd(int signal_number) {
  tcsetattr(STDIN_FILENO, TCSANOW, &settings_to_restore);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

}  // namespace

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
  struct sigaction previous[std::size(kEndingSignals)]{};
  if (hide) {
    settings_to_restore = saved;
    struct sigaction restore {};
    restore.sa_handler = RestoreTerminalAndEnd;
    sigemptyset(&restore.sa_mask);
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
      sigaction(kEndingSignals[i], &restore, &previous[i]);
    }
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
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
      sigaction(kEndingSignals[i], &previous[i], nullptr);
    }
    err_ << "\n";
  }
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return read;
}

void Terminal::ShowProgress(const std::string& line) {
  if (!interactive_) return;
  // Back to the line's start and cleared to its end.
  err_ << "\r\33[K" << line << std::flush;
  progress_shown_ = true;
}

void Terminal::EndProgress() {
  if (std::exchange(progress_shown_, false)) err_ << "\n";
}

}  // namespace callsink
