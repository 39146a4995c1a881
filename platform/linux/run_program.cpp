#include "platform/linux/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

extern char** environ;

namespace quillnet {

bool RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                ProgramLookup lookup, std::string& output) {
  output.clear();
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::array<char*, 1> noEnvironment{nullptr};
  pid_t child = -1;
  const int spawned =
      lookup == ProgramLookup::kSearchPath
          ? ::posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), environ)
          : ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(),
                          noEnvironment.data());
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (spawned == 0) {
    std::array<char, 4096> block{};
    for (;;) {
      const ssize_t read = ::read(pipeEnds[0], block.data(), block.size());
      if (read < 0 && errno == EINTR) continue;
      if (read <= 0) break;
      output.append(block.data(), static_cast<std::size_t>(read));
    }
  }
  ::close(pipeEnds[0]);
  if (spawned != 0) return false;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // A program that could not be run exits 127.
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace quillnet
