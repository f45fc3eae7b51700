// Tests for the process runner: StdProcessRunner::run with small shell scripts as children, the
// runner errors, the capture bookkeeping, and the paths where a reader thread fails to start,
// dies or cannot read.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "korvel_beads/runner/capture.hpp"
#include "korvel_beads/runner/process_runner.hpp"
#include "korvel_beads/runner/std_process_runner.hpp"

namespace {

namespace fs = std::filesystem;
using korvel_beads::CAPTURE_LIMIT_BYTES;
using korvel_beads::CommandSpec;
using korvel_beads::is_process_output_limit_error;
using korvel_beads::process_output_limit_error;
using korvel_beads::ProcessOutput;
using korvel_beads::RunnerError;
using korvel_beads::RunnerErrorKind;
using korvel_beads::StdProcessRunner;
namespace detail = korvel_beads::detail;

const std::string kReplacement = "\xEF\xBF\xBD";

// A fresh directory per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "korvel-runner-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = fs::canonical(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

CommandSpec shell(const std::string& script, const fs::path& cwd = "/") {
  return CommandSpec{"/bin/sh", {"-c", script}, cwd};
}

std::optional<int> count_open_fds() {
#if defined(__linux__)
  if (!fs::exists("/proc/self/fd")) return std::nullopt;
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
#else
  return std::nullopt;
#endif
}

// True when this process has no child at all, running or zombie. (The test binary starts none of
// its own, so any child is one that the runner left behind.)
bool has_no_children() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

// Orphans of the runner's children are re-parented to this process instead of init, so that the
// runner's group wait reaps them and "dead" can be checked without waiting for init.
void adopt_orphans() {
#if defined(__linux__)
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
}

bool process_gone(pid_t pid) {
#if defined(__linux__)
  return ::kill(pid, 0) == -1 && errno == ESRCH;
#else
  // Without a subreaper, init reaps the orphans; wait for it rather than for a fixed time.
  while (!(::kill(pid, 0) == -1 && errno == ESRCH)) ::usleep(1000);
  return true;
#endif
}

pid_t read_pid(const fs::path& file) {
  std::ifstream in(file);
  pid_t pid = 0;
  in >> pid;
  return pid;
}

// ---------------------------------------------------------------------------------------------
// Runner errors

TEST(RunnerError, OsErrorsDisplayDescriptionAndNumber) {
  struct Case {
    int code;
    RunnerErrorKind kind;
  };
  const Case cases[] = {
      {ENOENT, RunnerErrorKind::NotFound},        {EACCES, RunnerErrorKind::PermissionDenied},
      {EPERM, RunnerErrorKind::PermissionDenied}, {EINVAL, RunnerErrorKind::InvalidInput},
      {ENOTDIR, RunnerErrorKind::NotADirectory},  {EIO, RunnerErrorKind::Other},
  };
  for (const Case& c : cases) {
    const RunnerError e = RunnerError::from_os(c.code);
    EXPECT_EQ(e.kind(), c.kind) << c.code;
    EXPECT_EQ(e.os_error(), c.code);
    EXPECT_EQ(e.display(),
              std::string(std::strerror(c.code)) + " (os error " + std::to_string(c.code) + ")");
  }
  EXPECT_EQ(RunnerError::from_os(ENOENT).display(), "No such file or directory (os error 2)");
}

TEST(RunnerError, RunnerMadeErrorsDisplayTheirMessageExactly) {
  const RunnerError e =
      RunnerError::custom(RunnerErrorKind::Other, "child stdout was not captured");
  EXPECT_EQ(e.display(), "child stdout was not captured");
  EXPECT_EQ(e.os_error(), std::nullopt);
  EXPECT_EQ(process_output_limit_error().display(), "korvel-beads process output limit exceeded");
  EXPECT_EQ(process_output_limit_error().kind(), RunnerErrorKind::Other);
}

TEST(RunnerError, OnlyTheExactOutputLimitErrorIsRecognised) {
  struct Case {
    RunnerError error;
    bool expected;
    const char* why;
  };
  const Case cases[] = {
      {process_output_limit_error(), true, "the error itself"},
      {RunnerError::custom(RunnerErrorKind::Other, "korvel-beads process output limit exceeded"),
       true, "same kind and text"},
      {RunnerError::custom(RunnerErrorKind::Other, "korvel-beads process output limit exceedeD"),
       false, "one character differs"},
      {RunnerError::custom(RunnerErrorKind::Other, "korvel-beads process output limit exceeded "),
       false, "one character longer"},
      {RunnerError::custom(RunnerErrorKind::Other, "korvel-beads process output limit exceede"),
       false, "one character shorter"},
      {RunnerError::custom(RunnerErrorKind::InvalidInput,
                           "korvel-beads process output limit exceeded"),
       false, "other kind"},
      {RunnerError::from_os(EIO), false, "an OS error"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(is_process_output_limit_error(c.error), c.expected) << c.why;
}

// ---------------------------------------------------------------------------------------------
// CommandSpec

TEST(CommandSpec, ArgvIsProgramTextThenArguments) {
  EXPECT_EQ((CommandSpec{"bd", {"cook", "x"}, "/"}.argv()),
            (std::vector<std::string>{"bd", "cook", "x"}));
  EXPECT_EQ((CommandSpec{"/opt/b\xFFin/bd", {"a\xFF"}, "/"}.argv()),
            (std::vector<std::string>{"/opt/b" + kReplacement + "in/bd", "a\xFF"}))
      << "only the program is decoded; arguments are copied";
  EXPECT_EQ((CommandSpec{"bd", {}, "/"}.argv()), (std::vector<std::string>{"bd"}));
}

// ---------------------------------------------------------------------------------------------
// CaptureTracker

detail::CaptureEvent finished_ok(detail::OutputStream s, bool truncated = false) {
  return detail::Finished{s, detail::CapturedStream{"x", truncated}};
}
detail::CaptureEvent finished_error(detail::OutputStream s) {
  return detail::Finished{s, std::unexpected(RunnerError::from_os(EIO))};
}

TEST(CaptureTracker, StateFollowsTheEvents) {
  using detail::CaptureState;
  using detail::LimitExceeded;
  constexpr auto Out = detail::OutputStream::Stdout;
  constexpr auto Err = detail::OutputStream::Stderr;
  struct Case {
    const char* name;
    std::vector<detail::CaptureEvent> events;
    CaptureState state;
    bool pending;
  };
  std::vector<Case> cases;
  cases.push_back({"nothing yet", {}, CaptureState::Running, true});
  cases.push_back({"one clean stream", {finished_ok(Out)}, CaptureState::Running, true});
  cases.push_back({"both clean, either order",
                   {finished_ok(Err), finished_ok(Out)},
                   CaptureState::Complete,
                   false});
  cases.push_back({"breach reported", {LimitExceeded{}}, CaptureState::OverLimit, true});
  cases.push_back({"truncated result without the event",
                   {finished_ok(Out, true)},
                   CaptureState::OverLimit,
                   true});
  cases.push_back({"read error", {finished_error(Out)}, CaptureState::CaptureFailed, true});
  cases.push_back({"read error then clean stream is not complete",
                   {finished_error(Out), finished_ok(Err)},
                   CaptureState::CaptureFailed,
                   false});
  cases.push_back({"breach after a read error takes precedence",
                   {finished_error(Out), LimitExceeded{}, finished_ok(Err, true)},
                   CaptureState::OverLimit,
                   false});
  cases.push_back({"read error after a breach changes nothing",
                   {LimitExceeded{}, finished_ok(Out, true), finished_error(Err)},
                   CaptureState::OverLimit,
                   false});
  cases.push_back({"breach then clean other stream is not complete",
                   {finished_ok(Out, true), finished_ok(Err)},
                   CaptureState::OverLimit,
                   false});
  for (Case& c : cases) {
    detail::CaptureTracker tracker;
    for (auto& e : c.events) tracker.apply(std::move(e));
    EXPECT_EQ(tracker.state(), c.state) << c.name;
    EXPECT_EQ(tracker.pending(), c.pending) << c.name;
  }
}

TEST(CaptureTracker, KeepsEachStreamsResultInItsSlot) {
  detail::CaptureTracker tracker;
  tracker.apply(
      detail::Finished{detail::OutputStream::Stderr, detail::CapturedStream{"err", false}});
  tracker.apply(
      detail::Finished{detail::OutputStream::Stdout, detail::CapturedStream{"out", false}});
  ASSERT_FALSE(tracker.pending());
  EXPECT_EQ((*tracker.slot(detail::OutputStream::Stdout))->bytes, "out");
  EXPECT_EQ((*tracker.slot(detail::OutputStream::Stderr))->bytes, "err");
}

// ---------------------------------------------------------------------------------------------
// StdProcessRunner: output, limits, exit status

TEST(StdProcessRunner, CapturesEachStreamSeparatelyAndTheExitStatus) {
  struct Case {
    const char* script;
    std::string out;
    std::string err;
    std::optional<int> exit_status;
  };
  const Case cases[] = {
      {"printf out; printf err >&2", "out", "err", 0},
      {"printf 'a\\nb\\n'; exit 3", "a\nb\n", "", 3},
      {"exit 255", "", "", 255},
      {"printf before; kill -KILL $$", "before", "", std::nullopt},
      {"kill -TERM $$", "", "", std::nullopt},
      // Not killed for taking its time: run waits without a time limit.
      {"echo line; sleep 1; echo done", "line\ndone\n", "", 0},
      {"printf 'a\\377b'; printf '\\300\\257' >&2", "a" + kReplacement + "b",
       kReplacement + kReplacement, 0},
  };
  StdProcessRunner runner;
  for (const Case& c : cases) {
    auto out = runner.run(shell(c.script));
    ASSERT_TRUE(out.has_value()) << c.script << ": " << out.error().display();
    EXPECT_EQ(out->stdout, c.out) << c.script;
    EXPECT_EQ(out->stderr, c.err) << c.script;
    EXPECT_EQ(out->exit_status, c.exit_status) << c.script;
    EXPECT_GT(out->elapsed.count(), 0) << c.script;
  }
}

TEST(StdProcessRunner, KeepsUpToTheLimitPerStreamAndFailsOneByteBeyond) {
  struct Case {
    const char* name;
    std::string script;
    std::optional<std::pair<std::size_t, std::size_t>> sizes;  // absent: the limit error
  };
  auto bytes = [](std::size_t n, const char* redirect = "") {
    return "head -c " + std::to_string(n) + " /dev/zero | tr '\\000' a" + redirect + ";";
  };
  const Case cases[] = {
      {"65536 on stdout", bytes(65536), std::pair<std::size_t, std::size_t>{65536, 0}},
      {"65536 on stderr", bytes(65536, " >&2"), std::pair<std::size_t, std::size_t>{0, 65536}},
      {"65537 on stdout", bytes(65537), std::nullopt},
      {"65537 on stderr, nothing on stdout", bytes(65537, " >&2"), std::nullopt},
      {"60000 on each", bytes(60000) + bytes(60000, " >&2"),
       std::pair<std::size_t, std::size_t>{60000, 60000}},
      {"a flood far beyond the limit", bytes(10 * 1024 * 1024), std::nullopt},
      {"breach even when the child exits non-zero", bytes(65537) + "exit 7", std::nullopt},
  };
  StdProcessRunner runner;
  for (const Case& c : cases) {
    auto out = runner.run(shell(c.script));
    if (c.sizes) {
      ASSERT_TRUE(out.has_value()) << c.name << ": " << out.error().display();
      EXPECT_EQ(out->stdout, std::string(c.sizes->first, 'a')) << c.name;
      EXPECT_EQ(out->stderr, std::string(c.sizes->second, 'a')) << c.name;
      EXPECT_EQ(out->exit_status, 0) << c.name;
    } else {
      ASSERT_FALSE(out.has_value()) << c.name;
      EXPECT_TRUE(is_process_output_limit_error(out.error()))
          << c.name << ": " << out.error().display();
    }
  }
  EXPECT_TRUE(has_no_children());
}

TEST(StdProcessRunner, LimitAppliesToBytesBeforeDecoding) {
  // 65536 invalid bytes become 65536 replacement characters, three bytes each.
  auto out = StdProcessRunner().run(shell("head -c 65536 /dev/zero | tr '\\000' '\\377'"));
  ASSERT_TRUE(out.has_value()) << out.error().display();
  EXPECT_EQ(out->stdout.size(), 3 * CAPTURE_LIMIT_BYTES);
  EXPECT_EQ(out->stdout.substr(0, 6), kReplacement + kReplacement);
}

TEST(StdProcessRunner, BreachKillsTheWholeGroupEvenWhenSigtermIsIgnored) {
  adopt_orphans();
  TempDir dir;
  // The child and its background grandchild ignore SIGTERM and would otherwise run for long;
  // the grandchild keeps the output pipes open, so run can only return once it is dead.
  const std::string script =
      "trap '' TERM; echo $$ > child.pid; sleep 1000 & echo $! > grandchild.pid; "
      "head -c 70000 /dev/zero; sleep 1000";
  auto out = StdProcessRunner().run(shell(script, dir.path()));
  ASSERT_FALSE(out.has_value());
  EXPECT_TRUE(is_process_output_limit_error(out.error())) << out.error().display();
  const pid_t child = read_pid(dir.path() / "child.pid");
  const pid_t grandchild = read_pid(dir.path() / "grandchild.pid");
  ASSERT_GT(child, 0);
  ASSERT_GT(grandchild, 0);
  EXPECT_TRUE(process_gone(child));
  EXPECT_TRUE(process_gone(grandchild));
  EXPECT_TRUE(has_no_children());
}

TEST(StdProcessRunner, BreachStopsAChildThatLeftItsGroup) {
  if (!fs::exists("/usr/bin/perl")) GTEST_SKIP() << "needs perl to move a process between groups";
  adopt_orphans();
  // The child joins this test's process group, so its own group is empty when the breach is
  // handled; it must still be killed rather than left flooding.
  auto out = StdProcessRunner().run(CommandSpec{
      "/usr/bin/perl",
      {"-e", "setpgrp(0, getpgrp(getppid())) or die; $| = 1; print 'x' x 70000; sleep 1000"},
      "/"});
  ASSERT_FALSE(out.has_value());
  EXPECT_TRUE(is_process_output_limit_error(out.error())) << out.error().display();
  EXPECT_TRUE(has_no_children());
}

// ---------------------------------------------------------------------------------------------
// StdProcessRunner: starting the child

TEST(StdProcessRunner, RunsInTheGivenDirectoryAndFindsNamesOnThePath) {
  TempDir dir;
  auto out = StdProcessRunner().run(CommandSpec{"sh", {"-c", "pwd -P"}, dir.path()});
  ASSERT_TRUE(out.has_value()) << out.error().display();
  EXPECT_EQ(out->stdout, dir.path().string() + "\n");
}

TEST(StdProcessRunner, ChildLeadsItsOwnProcessGroup) {
  auto out = StdProcessRunner().run(
      CommandSpec{"/usr/bin/perl", {"-e", "print getpgrp() == $$ ? 'leader' : 'member'"}, "/"});
  if (!out && out.error().kind() == RunnerErrorKind::NotFound) GTEST_SKIP() << "needs perl";
  ASSERT_TRUE(out.has_value()) << out.error().display();
  EXPECT_EQ(out->stdout, "leader");
}

TEST(StdProcessRunner, ChildHasDefaultSigpipeAndNoBlockedSignals) {
  // This thread blocks SIGTERM and ignores SIGPIPE; neither must reach the child.
  sigset_t block, old_mask;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &block, &old_mask), 0);
  struct sigaction ignore {
  }, old_pipe{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old_pipe), 0);
  // With SIGPIPE ignored, `yes` would complain of a broken pipe on stderr instead of dying quietly.
  auto out =
      StdProcessRunner().run(shell("yes | head -c 1 >/dev/null; kill -TERM $$; echo survived"));
  ::sigaction(SIGPIPE, &old_pipe, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  ASSERT_TRUE(out.has_value()) << out.error().display();
  EXPECT_EQ(out->stderr, "");
  EXPECT_EQ(out->exit_status, std::nullopt) << "SIGTERM was blocked in the child";
  EXPECT_EQ(out->stdout.find("survived"), std::string::npos);
}

TEST(StdProcessRunner, StartFailuresAreOsErrors) {
  TempDir dir;
  const fs::path not_executable = dir.path() / "plain.txt";
  std::ofstream(not_executable) << "echo hi\n";
  struct Case {
    const char* name;
    CommandSpec command;
    RunnerErrorKind kind;
    int code;
  };
  const Case cases[] = {
      {"missing path",
       {dir.path() / "no-such-program", {}, "/"},
       RunnerErrorKind::NotFound,
       ENOENT},
      {"name not on the path",
       {"korvel-runner-no-such-program", {}, "/"},
       RunnerErrorKind::NotFound,
       ENOENT},
      {"missing directory",
       {"/bin/sh", {"-c", "true"}, dir.path() / "missing"},
       RunnerErrorKind::NotFound,
       ENOENT},
      {"not executable", {not_executable, {}, "/"}, RunnerErrorKind::PermissionDenied, EACCES},
  };
  for (const Case& c : cases) {
    auto out = StdProcessRunner().run(c.command);
    ASSERT_FALSE(out.has_value()) << c.name;
    EXPECT_EQ(out.error().kind(), c.kind) << c.name << ": " << out.error().display();
    EXPECT_EQ(out.error().os_error(), c.code) << c.name;
    EXPECT_FALSE(is_process_output_limit_error(out.error())) << c.name;
  }
  EXPECT_TRUE(has_no_children());
}

TEST(StdProcessRunner, NulByteStartsNothing) {
  TempDir dir;
  const std::string nul("x\0y", 3);
  const std::string touch = "touch started";
  struct Case {
    const char* name;
    CommandSpec command;
  };
  const Case cases[] = {
      {"program", {"/bin/sh" + nul, {"-c", touch}, dir.path()}},
      {"argument", {"/bin/sh", {"-c", touch, nul}, dir.path()}},
      {"script argument", {"/bin/sh", {"-c", touch + nul}, dir.path()}},
      {"directory", {"/bin/sh", {"-c", touch}, dir.path().string() + nul}},
  };
  for (const Case& c : cases) {
    auto out = StdProcessRunner().run(c.command);
    ASSERT_FALSE(out.has_value()) << c.name;
    EXPECT_EQ(out.error().kind(), RunnerErrorKind::InvalidInput) << c.name;
    EXPECT_EQ(out.error().display(), "nul byte found in provided data") << c.name;
    EXPECT_FALSE(fs::exists(dir.path() / "started")) << c.name;
  }
  // The same command without the NUL does start, so the check above can fail.
  ASSERT_TRUE(StdProcessRunner().run(shell(touch, dir.path())).has_value());
  EXPECT_TRUE(fs::exists(dir.path() / "started"));
}

TEST(StdProcessRunner, ChildReadsTheHostsStandardInput) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const int saved_stdin = ::dup(0);
  ASSERT_GE(saved_stdin, 0);
  ASSERT_EQ(::dup2(fds[0], 0), 0);
  ::close(fds[0]);
  ASSERT_EQ(::write(fds[1], "hello\n", 6), 6);
  ::close(fds[1]);
  auto out = StdProcessRunner().run(shell("read line; echo \"got:$line\"; cat"));
  ::dup2(saved_stdin, 0);
  ::close(saved_stdin);
  ASSERT_TRUE(out.has_value()) << out.error().display();
  EXPECT_EQ(out->stdout, "got:hello\n");
}

TEST(StdProcessRunner, WorksWhenTheHostsStandardStreamsAreClosed) {
  // With 0 and 1 closed, the first new pipe takes exactly those numbers; its write end must still
  // reach the child as its standard output.
  std::fflush(stdout);
  const int saved_in = ::fcntl(0, F_DUPFD_CLOEXEC, 10);
  const int saved_out = ::fcntl(1, F_DUPFD_CLOEXEC, 10);
  ASSERT_GE(saved_in, 0);
  ASSERT_GE(saved_out, 0);
  ::close(0);
  ::close(1);
  auto out = StdProcessRunner().run(shell("printf out; printf err >&2"));
  ::dup2(saved_in, 0);
  ::dup2(saved_out, 1);
  ::close(saved_in);
  ::close(saved_out);
  ASSERT_TRUE(out.has_value()) << out.error().display();
  EXPECT_EQ(out->stdout, "out");
  EXPECT_EQ(out->stderr, "err");
}

// ---------------------------------------------------------------------------------------------
// Many runs at once

TEST(StdProcessRunner, ConcurrentRunsEachGetTheirOwnOutputAndLeakNothing) {
  StdProcessRunner runner;
  ASSERT_TRUE(runner.run(shell("true")).has_value());  // settle lazily opened descriptors
  const std::optional<int> fds_before = count_open_fds();
  ASSERT_TRUE(has_no_children());

  constexpr int kThreads = 4;
  constexpr int kRunsPerThread = 50;
  std::vector<std::future<int>> failures;
  for (int t = 0; t < kThreads; ++t) {
    failures.push_back(std::async(std::launch::async, [&runner, t] {
      int failed = 0;
      for (int i = 0; i < kRunsPerThread; ++i) {
        const std::string id = std::to_string(t) + "-" + std::to_string(i);
        const int code = (t * kRunsPerThread + i) % 256;
        auto out = runner.run(shell("printf 'out-" + id + "'; printf 'err-" + id + "' >&2; exit " +
                                    std::to_string(code)));
        if (!out || out->stdout != "out-" + id || out->stderr != "err-" + id ||
            out->exit_status != code) {
          ++failed;
        }
      }
      return failed;
    }));
  }
  for (auto& f : failures) EXPECT_EQ(f.get(), 0);

  if (fds_before) {
    EXPECT_EQ(count_open_fds(), fds_before);
  }
  EXPECT_TRUE(has_no_children());
}

// ---------------------------------------------------------------------------------------------
// Reader threads that fail to start, die, or cannot read (through run_command's spawner seam)

// Starts the real reader, except for `broken`, which `replace` handles.
template <class Replace>
detail::CaptureSpawner spawner_breaking(detail::OutputStream broken, Replace replace) {
  return [broken, replace](
             detail::Fd pipe, detail::OutputStream stream,
             detail::CaptureSender sender) -> std::expected<detail::ReaderThread, RunnerError> {
    if (stream == broken) return replace(std::move(pipe), stream, std::move(sender));
    return detail::spawn_capture(std::move(pipe), stream, std::move(sender));
  };
}

TEST(RunCommand, ReaderThatCannotStartKillsAndReapsTheChild) {
  const auto refuse =
      [](detail::Fd, detail::OutputStream,
         detail::CaptureSender) -> std::expected<detail::ReaderThread, RunnerError> {
    return std::unexpected(RunnerError::custom(
        RunnerErrorKind::Other, "failed to spawn thread: Resource temporarily unavailable"));
  };
  const std::optional<int> fds_before = count_open_fds();
  for (auto stream : {detail::OutputStream::Stdout, detail::OutputStream::Stderr}) {
    // Without the kill the child would sleep for long and keep its pipes open.
    auto out = detail::run_command(shell("printf x; sleep 1000"), spawner_breaking(stream, refuse));
    ASSERT_FALSE(out.has_value());
    EXPECT_EQ(out.error().kind(), RunnerErrorKind::Other);
    EXPECT_EQ(out.error().display().rfind("failed to spawn thread", 0), 0u)
        << out.error().display();
    EXPECT_TRUE(has_no_children());
  }
  if (fds_before) {
    EXPECT_EQ(count_open_fds(), fds_before);
  }
}

TEST(RunCommand, ThreadSpawnErrorCarriesTheSystemError) {
  const std::system_error refused(EAGAIN, std::generic_category(), "pthread_create");
  EXPECT_EQ(detail::thread_spawn_error(refused).display(),
            "failed to spawn thread: " + RunnerError::from_os(EAGAIN).display());
  EXPECT_EQ(detail::thread_spawn_error(refused).kind(), RunnerErrorKind::Other);
  EXPECT_EQ(detail::thread_spawn_error(std::bad_alloc()).display(),
            std::string("failed to spawn thread: ") + std::bad_alloc().what());
}

TEST(RunCommand, ReaderThatDiesIsReportedAfterTheGroupIsReaped) {
  const auto die =
      [](detail::Fd pipe, detail::OutputStream,
         detail::CaptureSender sender) -> std::expected<detail::ReaderThread, RunnerError> {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread thread(
        [pipe = std::move(pipe), sender = std::move(sender), done = std::move(done)]() mutable {
          sender.close();  // ends without its Finished event, as a dying reader does
          done.set_exception(std::make_exception_ptr(std::runtime_error("reader died")));
        });
    return detail::ReaderThread(std::move(thread), std::move(finished));
  };
  for (auto stream : {detail::OutputStream::Stdout, detail::OutputStream::Stderr}) {
    auto out =
        detail::run_command(shell("printf out; printf err >&2"), spawner_breaking(stream, die));
    ASSERT_FALSE(out.has_value());
    EXPECT_EQ(out.error().display(), "child output reader panicked");
    EXPECT_TRUE(has_no_children());
  }
}

TEST(RunCommand, FailedReadKillsTheGroupAndReturnsTheReadError) {
  // A write-only descriptor in place of the stderr pipe: the first read fails with EBADF.
  const auto unreadable = [](detail::Fd, detail::OutputStream stream,
                             detail::CaptureSender sender) {
    return detail::spawn_capture(detail::Fd(::open("/dev/null", O_WRONLY | O_CLOEXEC)), stream,
                                 std::move(sender));
  };
  // Without the kill the child would keep stdout open for long.
  auto out = detail::run_command(shell("printf x; sleep 1000"),
                                 spawner_breaking(detail::OutputStream::Stderr, unreadable));
  ASSERT_FALSE(out.has_value());
  EXPECT_EQ(out.error().os_error(), EBADF) << out.error().display();
  EXPECT_FALSE(is_process_output_limit_error(out.error()));
  EXPECT_TRUE(has_no_children());
}

}  // namespace
