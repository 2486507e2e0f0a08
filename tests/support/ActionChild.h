// Another process for the tests of actions: a child made by fork() that runs an action of the
// core and stops at one of its steps (core::ActionStep), dying there or waiting until the test
// lets it go on.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <utility>

#include "core/plans/Apply.h"

namespace testfiles {

// Another process: runs `work` in a child, which stops at `step` of its action (core::ActionStep)
// and either dies there (`die`) or waits until Release().
class Child {
 public:
  Child(core::ActionStep step, bool die, const std::function<void()>& work) {
    if (::pipe(held_) != 0 || ::pipe(go_) != 0) ADD_FAILURE() << "pipe";
    pid_ = ::fork();
    if (pid_ == 0) {
      g_step = step;
      g_die = die;
      g_held = held_[1];
      g_go = go_[0];
      core::onActionStep = [](core::ActionStep s) {
        if (s != g_step) return;
        if (g_die) ::_exit(0);
        char c = 1;
        if (::write(g_held, &c, 1) != 1 || ::read(g_go, &c, 1) != 1) ::_exit(3);
        g_step = static_cast<core::ActionStep>(-1);  // once
      };
      work();
      ::_exit(g_die ? 1 : 0);
    }
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);  // a test that failed before letting it go
    Join();
  }
  // Waits until the child stands at its step; false when it ended first.
  bool Held() {
    char c = 0;
    return ::read(held_[0], &c, 1) == 1;
  }
  void Release() {
    char c = 1;
    if (::write(go_[1], &c, 1) != 1) ADD_FAILURE() << "release";
  }
  // The child's exit status (0: it reached its step and, when held, finished).
  int Join() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(std::exchange(pid_, -1), &status, 0) < 0) return -1;
    for (int fd : {held_[0], held_[1], go_[0], go_[1]}) ::close(fd);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }

 private:
  static inline core::ActionStep g_step;
  static inline bool g_die = false;
  static inline int g_held = -1, g_go = -1;
  pid_t pid_ = -1;
  int held_[2] = {-1, -1}, go_[2] = {-1, -1};
};

}  // namespace testfiles
