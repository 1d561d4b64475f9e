// Child processes for the multi-process tests: spawned with pipes on their
// standard input and output, read line by line with a deadline, waited for.
#ifndef VKT_TESTS_CHILD_PROCESS_H_
#define VKT_TESTS_CHILD_PROCESS_H_

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace vkt::testing {

struct Child {
  pid_t pid = -1;
  int out = -1;  // its stdout
  int in = -1;   // its stdin
};

// Starts args[0] with `args`, this process's environment plus `env_extra`.
inline Child Spawn(const std::vector<std::string>& args,
                   const std::vector<std::string>& env_extra = {}) {
  int out[2], in[2];
  if (pipe(out) != 0 || pipe(in) != 0) return {};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_store;
  for (char** e = environ; *e != nullptr; ++e) env_store.emplace_back(*e);
  for (const std::string& e : env_extra) env_store.push_back(e);
  std::vector<char*> envp;
  for (std::string& e : env_store) envp.push_back(e.data());
  envp.push_back(nullptr);
  Child c;
  if (posix_spawn(&c.pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) c.pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  close(in[0]);
  c.out = out[0];
  c.in = in[1];
  return c;
}

// Everything the child wrote until it closed its end (or `ms` passed).
inline std::string ReadAll(int fd, int ms = 60000) {
  std::string text;
  char buf[4096];
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    until - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) break;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

// One line of the child's output, without its newline ("" when the child
// ended or `ms` passed).
inline std::string ReadLine(int fd, int ms = 20000) {
  std::string line;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line.push_back(c);
  }
  return line;
}

// The child's exit code, or minus the signal that ended it.
inline int WaitExit(pid_t pid) {
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
}

// Kills the child when the test leaves early (a failed assertion), so a
// child that never ends by itself cannot hold the test until its timeout.
// A child already waited for is left alone.
class KillOnExit {
 public:
  explicit KillOnExit(pid_t pid) : pid_(pid) {}
  ~KillOnExit() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  KillOnExit(const KillOnExit&) = delete;
  KillOnExit& operator=(const KillOnExit&) = delete;

 private:
  pid_t pid_;
};

}  // namespace vkt::testing

#endif  // VKT_TESTS_CHILD_PROCESS_H_
