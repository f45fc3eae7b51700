// ManagedChild: starting the child with posix_spawn in its own process group, and killing and
// reaping that group.
#include "korvel_beads/runner/managed_child.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvel_beads/runner/eintr.hpp"

#if defined(__APPLE__)
#include <crt_externs.h>
#else
extern char** environ;
#endif

namespace korvel_beads::detail {
namespace {

// The working-directory file action is available under its _np name on glibc (2.29 and later),
// macOS (10.15 and later), musl and the BSDs.
#if defined(__GLIBC__) && (__GLIBC__ < 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ < 29))
#error "glibc 2.29 or later is needed for posix_spawn_file_actions_addchdir_np"
#endif
int add_chdir(posix_spawn_file_actions_t* actions, const char* dir) {
  return posix_spawn_file_actions_addchdir_np(actions, dir);
}

// The host's environment as it is now. In a macOS bundle (the Python extension module is one)
// `environ` cannot be linked directly; _NSGetEnviron is the supported way there.
char** current_environment() {
#if defined(__APPLE__)
  return *_NSGetEnviron();
#else
  return environ;
#endif
}

RunnerError nul_byte_error() {
  return RunnerError::custom(RunnerErrorKind::InvalidInput, "nul byte found in provided data");
}

bool has_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

class FileActions {
 public:
  FileActions() { rc_ = posix_spawn_file_actions_init(&actions_); }
  ~FileActions() {
    if (rc_ == 0) posix_spawn_file_actions_destroy(&actions_);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  int init_result() const { return rc_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  int rc_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { rc_ = posix_spawnattr_init(&attr_); }
  ~SpawnAttributes() {
    if (rc_ == 0) posix_spawnattr_destroy(&attr_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  int init_result() const { return rc_; }
  posix_spawnattr_t* get() { return &attr_; }

 private:
  posix_spawnattr_t attr_;
  int rc_;
};

// Process group 0 (the child's own id), SIGPIPE back at its default action, and an empty signal
// mask: the host thread that calls run() may block signals that the child must still receive.
int configure(SpawnAttributes& attributes) {
  posix_spawnattr_t* attr = attributes.get();
  if (int rc = posix_spawnattr_setpgroup(attr, 0)) return rc;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  if (int rc = posix_spawnattr_setsigdefault(attr, &defaults)) return rc;
  sigset_t mask;
  sigemptyset(&mask);
  if (int rc = posix_spawnattr_setsigmask(attr, &mask)) return rc;
  return posix_spawnattr_setflags(
      attr,
      static_cast<short>(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));
}

}  // namespace

std::expected<ManagedChild, RunnerError> ManagedChild::spawn(const CommandSpec& command) {
  const std::string& program = command.program.native();
  const std::string& cwd = command.cwd.native();
  if (has_nul(program) || has_nul(cwd)) return std::unexpected(nul_byte_error());
  for (const std::string& arg : command.args) {
    if (has_nul(arg)) return std::unexpected(nul_byte_error());
  }

  std::vector<char*> argv;
  argv.reserve(command.args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : command.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  auto out = make_pipe();
  if (!out) return std::unexpected(out.error());
  auto err = make_pipe();
  if (!err) return std::unexpected(err.error());
  if (auto moved = move_above_stdio(out->write); !moved) return std::unexpected(moved.error());
  if (auto moved = move_above_stdio(err->write); !moved) return std::unexpected(moved.error());

  FileActions actions;
  if (actions.init_result() != 0) {
    return std::unexpected(RunnerError::from_os(actions.init_result()));
  }
  // dup2 clears close-on-exec on 1 and 2; every other descriptor of ours closes at exec.
  if (int rc = posix_spawn_file_actions_adddup2(actions.get(), out->write.get(), 1)) {
    return std::unexpected(RunnerError::from_os(rc));
  }
  if (int rc = posix_spawn_file_actions_adddup2(actions.get(), err->write.get(), 2)) {
    return std::unexpected(RunnerError::from_os(rc));
  }
  if (int rc = add_chdir(actions.get(), cwd.c_str())) {
    return std::unexpected(RunnerError::from_os(rc));
  }

  SpawnAttributes attributes;
  if (attributes.init_result() != 0) {
    return std::unexpected(RunnerError::from_os(attributes.init_result()));
  }
  if (int rc = configure(attributes)) return std::unexpected(RunnerError::from_os(rc));

  pid_t pid = -1;
  const bool search_path = program.find('/') == std::string::npos;
  char** env = current_environment();
  const int rc =
      search_path
          ? posix_spawnp(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), env)
          : posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), env);
  if (rc != 0) return std::unexpected(RunnerError::from_os(rc));
  // The write ends close here with `out` and `err`: from now on only the child's group holds
  // them, so the readers see end-of-file when the group is done writing.
  return ManagedChild(pid, std::move(out->read), std::move(err->read));
}

ManagedChild::ManagedChild(ManagedChild&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      stdout_(std::move(other.stdout_)),
      stderr_(std::move(other.stderr_)),
      status_(other.status_),
      gone_(other.gone_) {}

ManagedChild::~ManagedChild() {
  if (pid_ <= 0 || status_ || gone_) return;
  ::killpg(pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  int status = 0;
  retry_on_eintr([&] { return ::waitpid(pid_, &status, 0); });
}

std::optional<Fd> ManagedChild::take_stdout() noexcept {
  return std::exchange(stdout_, std::nullopt);
}

std::optional<Fd> ManagedChild::take_stderr() noexcept {
  return std::exchange(stderr_, std::nullopt);
}

std::expected<void, RunnerError> ManagedChild::kill_group() {
  if (::killpg(pid_, SIGKILL) == 0) return {};
  const int group_error = errno;
  // ESRCH: nobody is left in the group. The child may still be alive in another group it moved
  // to; it must not outlive the run either.
  if (group_error == ESRCH && ::kill(pid_, SIGKILL) == 0) return {};
  return std::unexpected(RunnerError::from_os(group_error));
}

std::expected<int, RunnerError> ManagedChild::wait_group() {
  if (status_) return *status_;
  int status = 0;
  if (retry_on_eintr([&] { return ::waitpid(pid_, &status, 0); }) < 0) {
    const int code = errno;
    if (code == ECHILD) gone_ = true;
    return std::unexpected(RunnerError::from_os(code));
  }
  status_ = status;
  for (;;) {
    if (retry_on_eintr([&] { return ::waitpid(-pid_, nullptr, 0); }) >= 0) continue;
    if (errno == ECHILD) return status;
    return std::unexpected(RunnerError::from_os(errno));
  }
}

}  // namespace korvel_beads::detail
