#ifndef TICKORA_TESTS_COMMON_AS_NOBODY_H_
#define TICKORA_TESTS_COMMON_AS_NOBODY_H_

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

// Runs `body` in a child process that file permissions bind: root gives up
// its user and group for "nobody" there first. Answers what `body`
// answered; nothing the child changes in memory comes back.
inline bool AsNobody(const std::function<bool()>& body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const bool dropped = geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
    _exit(dropped && body() ? 0 : 1);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

#endif  // TICKORA_TESTS_COMMON_AS_NOBODY_H_
