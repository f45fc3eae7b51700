/* spawn_capture_wait: posix_spawn + pipes + poll + waitpid, with no more than the same job needs
 * (new process group, SIGPIPE at default), as a C programmer would write it by hand. */
#define _GNU_SOURCE
#include "spawn_loop.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static int make_pipe(int fds[2]) {
#if defined(__APPLE__)
  if (pipe(fds) != 0) return errno;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return 0;
#else
  return pipe2(fds, O_CLOEXEC) == 0 ? 0 : errno;
#endif
}

int spawn_capture_wait(char* const argv[], size_t* out_bytes, size_t* err_bytes, int* status) {
  int out[2], err[2];
  int rc = make_pipe(out);
  if (rc) return rc;
  rc = make_pipe(err);
  if (rc) {
    close(out[0]);
    close(out[1]);
    return rc;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t def;
  sigemptyset(&def);
  sigaddset(&def, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &def);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  rc = posix_spawn(&pid, argv[0], &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(out[1]);
  close(err[1]);
  if (rc) {
    close(out[0]);
    close(err[0]);
    return rc;
  }
  static const size_t limit = 65536;
  char buf[8192];
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  size_t* counts[2] = {out_bytes, err_bytes};
  *out_bytes = *err_bytes = 0;
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        size_t room = limit - (*counts[i] < limit ? *counts[i] : limit);
        *counts[i] += (size_t)n < room ? (size_t)n : room;
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
  }
  return 0;
}
