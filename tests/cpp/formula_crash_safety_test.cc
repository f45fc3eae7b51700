// Crash safety of formula rendering: a child process renders to one output in a loop and is killed
// with SIGKILL at random moments while this process reads the output. Every read, during the loop
// and after the kill, must find one complete formula: never a missing, empty or torn file, and
// never one older than the last rendering the child reported done.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "korvel_beads/render/formula_render.hpp"

namespace {

namespace fs = std::filesystem;

// Large enough that a write takes several system calls and a torn file would show.
const std::string kFiller(512 * 1024, '#');

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The generation of a complete formula "begin N\n{filler}\nend N", or nothing.
std::optional<std::int64_t> complete_generation(const std::string& text) {
  if (!text.starts_with("begin ")) return std::nullopt;
  const auto first_line = text.find('\n');
  if (first_line == std::string::npos) return std::nullopt;
  const std::string number = text.substr(6, first_line - 6);
  const std::string expected = "begin " + number + "\n" + kFiller + "\nend " + number;
  if (text != expected) return std::nullopt;
  return std::stoll(number);
}

// Renders generations first, first + 1, ... to `out` forever, reporting each finished one on
// `report`. Runs in the forked child; never returns.
[[noreturn]] void render_forever(const fs::path& tpl, const fs::path& out, std::int64_t first,
                                 int report) {
  for (std::int64_t generation = first;; ++generation) {
    korvel::json::Object vars{{"gen", korvel::json::Value(generation)}};
    if (!korvel_beads::render_formula(tpl, out, vars).has_value()) ::_exit(3);
    if (::write(report, &generation, sizeof generation) != sizeof generation) ::_exit(4);
  }
}

// Kills and reaps the writer if a failed assertion leaves the round early.
struct WriterGuard {
  pid_t pid = -1;
  ~WriterGuard() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

TEST(FormulaCrashSafety, ReadersSeeOnlyCompleteFormulasWhileTheWriterIsKilled) {
  std::string pattern = (fs::temp_directory_path() / "korvel-crash-XXXXXX").native();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = fs::canonical(pattern);
  // Removed however the test ends; the writers killed mid-way leave their temporary files here.
  struct RemoveTree {
    fs::path path;
    ~RemoveTree() { fs::remove_all(path); }
  } cleanup{dir};
  const fs::path tpl = dir / "crash.formula.toml.j2";
  const fs::path out = dir / "crash.formula.toml";
  std::ofstream(tpl, std::ios::binary) << "begin {{{ gen }}}\n" << kFiller << "\nend {{{ gen }}}";
  {
    korvel::json::Object vars{{"gen", korvel::json::Value(0)}};
    auto first = korvel_beads::render_formula(tpl, out, vars);
    ASSERT_TRUE(first.has_value()) << first.error().message();
  }

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> reads_before_kill(0, 60);

  std::int64_t last_seen = 0;
  int torn = 0;
  for (int round = 1; round <= 25; ++round) {
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const std::int64_t first = std::int64_t{round} * 1'000'000;
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      ::close(report[0]);
      render_forever(tpl, out, first, report[1]);
    }
    WriterGuard guard{child};
    ::close(report[1]);

    // Wait (without a clock) until the child has finished one rendering, so every round kills a
    // writer that is in the middle of its loop.
    std::int64_t reported = 0;
    ASSERT_EQ(::read(report[0], &reported, sizeof reported), static_cast<ssize_t>(sizeof reported));
    // Read while it keeps writing, a random number of times, then kill it wherever it is.
    for (int i = reads_before_kill(random); i > 0; --i) {
      auto generation = complete_generation(read_file(out));
      if (!generation) ++torn;
      if (generation) last_seen = *generation;
    }
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    guard.pid = -1;
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with status " << status;

    // The last generation it reported done; the one after may have been renamed into place just
    // before the kill landed.
    for (std::int64_t next; ::read(report[0], &next, sizeof next) == sizeof next;) reported = next;
    ::close(report[0]);
    auto after_kill = complete_generation(read_file(out));
    ASSERT_TRUE(after_kill.has_value()) << "round " << round << ": torn or empty formula";
    EXPECT_TRUE(*after_kill == reported || *after_kill == reported + 1)
        << "round " << round << ": found " << *after_kill << ", last reported " << reported;
    EXPECT_GE(*after_kill, last_seen);
    last_seen = *after_kill;
  }
  EXPECT_EQ(torn, 0) << "reads that found an incomplete formula while the writer ran";
}

}  // namespace
