#include "service/systemctl.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/file_descriptor.h"

extern char** environ;

namespace callsink {
namespace {

// Owns a posix_spawn file-action list.
class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Owns a posix_spawn attribute set.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attributes_);
    // The caller may block or ignore signals (the service blocks its
    // control signals); systemctl gets a clean slate.
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

void ReadUntilEnd(int fd, std::string* output) {
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    output->append(buffer, static_cast<size_t>(count));
  }
}

}  // namespace

int Systemctl::Run(const std::vector<std::string>& arguments, std::string* output, Errors errors) {
  std::vector<std::string> words = {"systemctl"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  FileDescriptor output_reader;
  FileDescriptor output_writer;
  if (output != nullptr && !FileDescriptor::OpenPipe(&output_reader, &output_writer)) return -1;

  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  if (output != nullptr) {
    posix_spawn_file_actions_adddup2(actions.get(), output_writer.get(), 1);
  } else {
    posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0);
  }
  if (errors == Errors::kHidden) {
    posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0);
  }
  SpawnAttributes attributes;

  pid_t child = -1;
  const int spawn_error =
      posix_spawnp(&child, "systemctl", actions.get(), attributes.get(), argv.data(), environ);
  if (output != nullptr) {
    output_writer.Reset();
    if (spawn_error == 0) ReadUntilEnd(output_reader.get(), output);
    output_reader.Reset();
  }
  if (spawn_error != 0) {
    errno = spawn_error;
    return -1;
  }

  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace callsink
