#pragma once

#include <iosfwd>
#include <string>

namespace callsink {

// callsinkctl's conversation with its user: questions and the password are
// read from `in`; prompts go to `err`, so that standard output carries only
// results. Used on the main thread.
class Terminal {
 public:
  // `interactive`: `in` is a terminal a person types into. The streams must
  // outlive the object.
  Terminal(std::istream& in, std::ostream& err, bool interactive);

  bool interactive() const { return interactive_; }
  // Answers every question with yes without asking ("--yes").
  void AssumeYes() { assume_yes_ = true; }
  bool assumes_yes() const { return assume_yes_; }

  // True for "y" or "yes" (any case); false for anything else or no input.
  bool Confirm(const std::string& question);
  // One line from `in`, without its line end; typed without echo on a
  // terminal. False when there is no line to read.
  bool ReadPassword(std::string* password);

  // On a terminal: replaces the progress line with `line`; elsewhere
  // nothing. EndProgress ends a progress line shown, if any.
  void ShowProgress(const std::string& line);
  void EndProgress();

 private:
  std::istream& in_;
  std::ostream& err_;
  const bool interactive_;
  bool assume_yes_ = false;
  bool progress_shown_ = false;
};

}  // namespace callsink
