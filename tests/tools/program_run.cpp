#include "tests/tools/program_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace callsink::test {

std::string ProgramRun::PathOf(const std::string& program) {
  const char* bin = std::getenv("CALLSINK_BIN");
  return std::string(bin != nullptr ? bin : "bin") + "/" + program;
}

ProgramRun ProgramRun::Run(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::pair<std::string, std::string>>& extra_env,
                           const std::string& input) {
  // Files instead of pipes: nothing can block however much the program prints.
  TempDir io;
  TempDir::WriteFile(io / "in", input);
  const std::string path = program.starts_with("/") ? program : PathOf(program);

  std::vector<std::string> env_texts;
  for (char** entry = environ; *entry != nullptr; ++entry) env_texts.emplace_back(*entry);
  for (const auto& [name, value] : extra_env) {
    std::erase_if(env_texts, [&](const std::string& e) { return e.starts_with(name + "="); });
    env_texts.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (std::string& e : env_texts) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_texts{path};
  argv_texts.insert(argv_texts.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_texts) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, (io / "in").c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, (io / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  ProgramRun run;
  const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    run.err = "cannot start " + path;
    return run;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  run.out = TempDir::ReadFile(io / "out");
  run.err = TempDir::ReadFile(io / "err");
  return run;
}

}  // namespace callsink::test
