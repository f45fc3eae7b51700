// Formula rendering on real files: the escape mode chosen from the template's name, the destination
// check, atomic replacement through the hidden temporary file, and that no temporary file survives
// any outcome.
#include "korvel_beads/render/formula_render.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "korvel_beads/render/temporary_output.hpp"

namespace {

namespace fs = std::filesystem;
using korvel::EscapeMode;
using korvel_beads::render_formula;
using korvel_beads::TEMPORARY_OUTPUT_SEQUENCE;
using korvel_beads::TemporaryOutput;

void write_file(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korvel-render-XXXXXX").native();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = fs::canonical(pattern);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ec)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(dir_);
  }

  fs::path template_file(const std::string& name, const std::string& source) {
    write_file(dir_ / name, source);
    return dir_ / name;
  }

  fs::path dir_;
};

// --- escape mode ------------------------------------------------------------------------------

TEST(FormulaEscapeMode, ChosenFromTheLast16BytesCaseSensitively) {
  struct Case {
    const char* path;
    EscapeMode mode;
  };
  const Case cases[] = {
      {"/w/build.formula.json.j2", EscapeMode::LegacyJson},
      {".formula.json.j2", EscapeMode::LegacyJson},  // exactly 16 bytes
      {"/w/build.formula.toml.j2", EscapeMode::Toml},
      {"/w/build.formula.yaml.j2", EscapeMode::Standard},
      {"/w/build.json.j2", EscapeMode::Standard},
      {"/w/build.FORMULA.JSON.J2", EscapeMode::Standard},
      {"/w/build.formula.json", EscapeMode::Standard},
      {"formula.json.j2", EscapeMode::Standard},  // 15 bytes
      {"", EscapeMode::Standard},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(korvel_beads::formula_escape_mode(c.path), c.mode) << c.path;
  }
}

// The chosen mode reaches the renderer: one printed value shows all three modes apart.
TEST_F(RenderTest, TheTemplateNameDecidesTheEscaping) {
  struct Case {
    const char* template_name;
    const char* output;
  };
  const Case cases[] = {
      {"a.formula.toml.j2", "v=a\\\"b"},  // Toml: the korvel-toml format
      {"b.toml.j2", "v=a\"b"},            // Standard: TOML names are not escaped
      {"c.formula.json.j2", "v=a\\\"b"},  // LegacyJson: escaped, no quotes
      {"d.json.j2", "v=\"a\\\"b\""},      // Standard: the engine's JSON escaping
  };
  const korvel::json::Object vars{{"v", korvel::json::Value("a\"b")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.template_name);
    const fs::path out = dir_ / "x.formula.toml";
    auto result = render_formula(template_file(c.template_name, "v={{{ v }}}"), out, vars);
    ASSERT_TRUE(result.has_value()) << result.error().message();
    EXPECT_EQ(read_file(out), c.output);
  }
}

// --- temporary names ---------------------------------------------------------------------------

TEST(TemporaryOutputName, HiddenSiblingWithPidNanosecondsAndSequence) {
  using korvel_beads::WallClockReading;
  struct Case {
    const char* output_name;
    pid_t pid;
    WallClockReading clock;
    std::uint64_t sequence;
    const char* name;
  };
  const Case cases[] = {
      {"build.formula.json", 77, {0, 123}, 0, ".build.formula.json.korvel-77-123-0.tmp"},
      {"a.formula.toml", 1, {0, 0}, 9, ".a.formula.toml.korvel-1-0-9.tmp"},
      {"a.formula.toml", 1, {1, 5}, 1, ".a.formula.toml.korvel-1-1000000005-1.tmp"},
      {"a.formula.toml",
       42,
       {1765400000, 999999999},
       18446744073709551615u,
       ".a.formula.toml.korvel-42-1765400000999999999-18446744073709551615.tmp"},
      // Beyond 2^64 nanoseconds (the year 2554) the decimal keeps growing.
      {"a.formula.toml",
       2,
       {20000000000, 7},
       3,
       ".a.formula.toml.korvel-2-20000000000000000007-3.tmp"},
  };
  for (const auto& c : cases) {
    auto name = korvel_beads::temporary_output_name(c.output_name, c.pid, c.clock, c.sequence);
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(*name, c.name);
  }
  auto before_epoch = korvel_beads::temporary_output_name("a.formula.toml", 1, {-1, 0}, 0);
  ASSERT_FALSE(before_epoch.has_value());
  EXPECT_EQ(before_epoch.error(), "second time provided was later than self");
}

TEST(TemporaryOutputName, ConsecutiveNamesCarryConsecutiveSequenceValues) {
  const fs::path output = "/w/flows/build.formula.json";
  auto first = korvel_beads::next_temporary_output_path(output);
  auto second = korvel_beads::next_temporary_output_path(output);
  ASSERT_TRUE(first.has_value() && second.has_value());
  EXPECT_EQ(first->parent_path(), "/w/flows");
  const std::string prefix = ".build.formula.json.korvel-" + std::to_string(::getpid()) + "-";
  const std::string a = first->filename(), b = second->filename();
  ASSERT_TRUE(a.starts_with(prefix) && b.starts_with(prefix)) << a << " " << b;
  ASSERT_TRUE(a.ends_with(".tmp") && b.ends_with(".tmp"));
  auto sequence_of = [](const std::string& name) {
    const std::string stem = name.substr(0, name.size() - 4);
    return std::stoull(stem.substr(stem.rfind('-') + 1));
  };
  EXPECT_EQ(sequence_of(b), sequence_of(a) + 1);
  EXPECT_NE(a, b);
}

// --- the temporary file ------------------------------------------------------------------------

TEST_F(RenderTest, TemporaryFileIsRemovedUnlessCommitted) {
  const fs::path tmp = dir_ / ".x.tmp";
  {
    auto file = TemporaryOutput::create(tmp);
    ASSERT_TRUE(file.has_value()) << file.error();
    ASSERT_TRUE(file->write_all("partial").has_value());
    EXPECT_TRUE(fs::exists(tmp));
  }
  EXPECT_FALSE(fs::exists(tmp));

  {
    auto file = TemporaryOutput::create(tmp);
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(file->write_all("whole").has_value());
    ASSERT_TRUE(file->sync().has_value());
    ASSERT_TRUE(file->commit(dir_ / "out.formula.toml").has_value());
  }
  EXPECT_FALSE(fs::exists(tmp));
  EXPECT_EQ(read_file(dir_ / "out.formula.toml"), "whole");
}

TEST_F(RenderTest, TemporaryFileCreationIsExclusive) {
  const fs::path tmp = dir_ / ".taken.tmp";
  write_file(tmp, "someone else's");
  auto file = TemporaryOutput::create(tmp);
  ASSERT_FALSE(file.has_value());
  EXPECT_EQ(file.error(), korvel_beads::os_error_text(EEXIST));
  // A failed creation owns nothing and removes nothing.
  EXPECT_EQ(read_file(tmp), "someone else's");
}

// bd children must never inherit the descriptor. Found through /proc, so Linux only.
TEST_F(RenderTest, TemporaryFileIsClosedOnExec) {
  if (!fs::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc/self/fd";
  const fs::path tmp = dir_ / ".cloexec.tmp";
  auto file = TemporaryOutput::create(tmp);
  ASSERT_TRUE(file.has_value());
  int found = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) != tmp) continue;
    const int fd = std::stoi(entry.path().filename());
    ++found;
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_ACCMODE, O_WRONLY);
  }
  EXPECT_EQ(found, 1);
}

TEST_F(RenderTest, TemporaryFileWritesLargeContentWhole) {
  std::string big(5 * 1024 * 1024 + 3, 'q');
  for (std::size_t i = 0; i < big.size(); i += 4099) big[i] = static_cast<char>('a' + i % 26);
  auto file = TemporaryOutput::create(dir_ / ".big.tmp");
  ASSERT_TRUE(file.has_value());
  ASSERT_TRUE(file->write_all(big).has_value());
  ASSERT_TRUE(file->commit(dir_ / "big.formula.toml").has_value());
  EXPECT_EQ(read_file(dir_ / "big.formula.toml"), big);
}

TEST(OsErrorText, DescriptionThenNumber) {
  const std::string text = korvel_beads::os_error_text(ENOENT);
  EXPECT_TRUE(text.ends_with(" (os error " + std::to_string(ENOENT) + ")")) << text;
  EXPECT_EQ(text.substr(0, text.find(" (os error")), std::string(std::strerror(ENOENT)));
}

// --- render_formula ----------------------------------------------------------------------------

TEST_F(RenderTest, ReplacesAnExistingFileWithFreshPermissions) {
  const fs::path out = dir_ / "flow.formula.toml";
  write_file(out, "old formula, much longer than the new one\n");
  ::chmod(out.c_str(), 0600);
  const mode_t old_mask = ::umask(027);
  auto result = render_formula(template_file("flow.formula.toml.j2", "name = \"é\""), out, {});
  ::umask(old_mask);
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_EQ(read_file(out), "name = \"é\"");  // byte for byte, no newline added
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(names_in(dir_),
            (std::vector<std::string>{"flow.formula.toml", "flow.formula.toml.j2"}));
}

TEST_F(RenderTest, CreatesAMissingOutputAndEmptyRenderingsGiveEmptyFiles) {
  const fs::path out = dir_ / "empty.formula.json";
  auto result = render_formula(template_file("e.j2", "{# nothing #}"), out, {});
  ASSERT_TRUE(result.has_value()) << result.error().message();
  ASSERT_TRUE(fs::is_regular_file(out));
  EXPECT_EQ(fs::file_size(out), 0u);
}

TEST_F(RenderTest, EachRenderTakesExactlyOneSequenceValue) {
  const fs::path tpl = template_file("t.j2", "x");
  const auto before = TEMPORARY_OUTPUT_SEQUENCE.load();
  ASSERT_TRUE(render_formula(tpl, dir_ / "a.formula.toml", {}).has_value());
  ASSERT_TRUE(render_formula(tpl, dir_ / "a.formula.toml", {}).has_value());
  EXPECT_EQ(TEMPORARY_OUTPUT_SEQUENCE.load(), before + 2);
}

// Threads rendering to one output at once each use their own temporary file; the output ends as
// one complete rendering and nothing else is left behind.
TEST_F(RenderTest, ConcurrentRendersToOneOutputLeaveOneCompleteFormula) {
  const fs::path tpl =
      template_file("t.j2", "{{{ who }}}:" + std::string(64 * 1024, '.') + ":{{{ who }}}");
  const fs::path out = dir_ / "shared.formula.toml";
  constexpr int kThreads = 4;
  constexpr int kRenders = 10;
  std::vector<int> failures(kThreads, 0);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kRenders; ++i) {
          const std::string who = std::to_string(t) + "-" + std::to_string(i);
          korvel::json::Object vars{{"who", korvel::json::Value(who)}};
          if (!render_formula(tpl, out, vars).has_value()) ++failures[t];
        }
      });
    }
  }
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
  const std::string text = read_file(out);
  const std::string who = text.substr(0, text.find(':'));
  EXPECT_EQ(text, who + ":" + std::string(64 * 1024, '.') + ":" + who);
  EXPECT_EQ(names_in(dir_), (std::vector<std::string>{"shared.formula.toml", "t.j2"}));
}

// Failures before the temporary file exists: the output is untouched and no name was taken.
TEST_F(RenderTest, RenderingFailuresLeaveTheOutputUntouched) {
  const fs::path out = dir_ / "keep.formula.toml";
  struct Case {
    const char* name;
    std::string template_name;
    std::string source;
    std::string message;  // empty: the renderer's own message for this template
  };
  const Case cases[] = {
      {"syntax error", "s.j2", "{% if %}", ""},
      {"filter on a missing variable", "f.formula.toml.j2", "{{{ missing | yaml_safe }}}", ""},
      {"template not UTF-8", "u.j2", "a\xff",
       "formula rendering failed: stream did not contain valid UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(out, "old");
    const auto before = TEMPORARY_OUTPUT_SEQUENCE.load();
    auto result = render_formula(template_file(c.template_name, c.source), out, {});
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().code(), "BEADS_RENDER_FAILED");
    EXPECT_EQ(result.error().stage_name(), "render");
    std::string expected = c.message;
    if (expected.empty()) {
      // The renderer's message for the same template under its path as name, passed through.
      const std::string name = (dir_ / c.template_name).native();
      auto renderer = korvel::Renderer::with_delimiters_and_escape_mode(
          "{{{", "}}}", korvel_beads::formula_escape_mode(name));
      ASSERT_TRUE(renderer.has_value());
      auto direct = renderer->render_named(name, c.source, {});
      ASSERT_FALSE(direct.has_value());
      EXPECT_NE(direct.error().message().find(name), std::string::npos);
      expected = "formula rendering failed: " + direct.error().message();
    }
    EXPECT_EQ(result.error().message(), expected);
    EXPECT_EQ(read_file(out), "old");
    EXPECT_EQ(TEMPORARY_OUTPUT_SEQUENCE.load(), before);
  }
  auto missing = render_formula(dir_ / "absent.j2", out, {});
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message(),
            "formula rendering failed: " + korvel_beads::os_error_text(ENOENT));
}

TEST_F(RenderTest, DestinationIsCheckedAgainBeforeWriting) {
  const fs::path tpl = template_file("t.j2", "new");
  write_file(dir_ / "target", "target");
  fs::create_symlink(dir_ / "target", dir_ / "link.formula.toml");
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling.formula.toml");
  write_file(dir_ / "plain", "file");
  struct Case {
    fs::path output;
    const char* code;
  };
  const Case cases[] = {
      {dir_ / "link.formula.toml", "BEADS_OUTPUT_PATH_SYMLINK"},
      {dir_ / "dangling.formula.toml", "BEADS_OUTPUT_PATH_SYMLINK"},
      {dir_ / "plain" / "x.formula.toml", "BEADS_TEMPLATE_PATH_INVALID"},
      {"x.formula.toml", "BEADS_TEMPLATE_PATH_INVALID"},  // no parent
  };
  const auto before = names_in(dir_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output.native());
    auto checked = korvel_beads::validate_output_destination(c.output);
    auto rendered = render_formula(tpl, c.output, {});
    ASSERT_FALSE(rendered.has_value());
    EXPECT_EQ(rendered.error().code(), c.code);
    EXPECT_EQ(rendered.error().path(), c.output);
    if (c.output.has_parent_path()) {
      ASSERT_FALSE(checked.has_value());
      EXPECT_EQ(checked.error(), rendered.error());
    }
  }
  EXPECT_EQ(names_in(dir_), before);
  EXPECT_EQ(read_file(dir_ / "target"), "target");
  EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
}

TEST_F(RenderTest, DestinationCheckPassesFilesDirectoriesAndNothing) {
  write_file(dir_ / "file.formula.toml", "x");
  fs::create_directory(dir_ / "dir.formula.toml");
  for (const char* name : {"file.formula.toml", "dir.formula.toml", "absent.formula.toml"}) {
    EXPECT_TRUE(korvel_beads::validate_output_destination(dir_ / name).has_value()) << name;
  }
}

TEST_F(RenderTest, RenameOntoADirectoryFailsAndRemovesTheTemporaryFile) {
  const fs::path out = dir_ / "dir.formula.toml";
  fs::create_directory(out);
  write_file(out / "inside", "kept");
  auto result = render_formula(template_file("t.j2", "new"), out, {});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().code(), "BEADS_RENDER_FAILED");
  EXPECT_TRUE(result.error().message().starts_with("formula rendering failed: "));
  EXPECT_TRUE(result.error().message().ends_with(")")) << result.error().message();
  EXPECT_EQ(names_in(dir_), (std::vector<std::string>{"dir.formula.toml", "t.j2"}));
  EXPECT_EQ(read_file(out / "inside"), "kept");
}

// A write that fails half-way (the file-size limit stands in for a full disk): the error is the
// system's, the temporary file is gone and the old formula stays.
TEST_F(RenderTest, WriteFailureRemovesTheTemporaryFile) {
  const fs::path out = dir_ / "big.formula.toml";
  write_file(out, "old");
  const fs::path tpl = template_file("big.j2", std::string(1 << 20, 'z'));
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previous);
  rlimit old_limit{};
  ::getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit small = old_limit;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  auto result = render_formula(tpl, out, {});
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(),
            "formula rendering failed: " + korvel_beads::os_error_text(EFBIG));
  EXPECT_EQ(read_file(out), "old");
  EXPECT_EQ(names_in(dir_), (std::vector<std::string>{"big.formula.toml", "big.j2"}));
}

// Creation in a directory the caller may not write to fails with the system's permission text and
// leaves nothing. Root ignores directory permissions, so as root the render runs in a child that
// has given up its privileges.
TEST_F(RenderTest, UnwritableDirectoryFailsAtCreation) {
  const fs::path locked = dir_ / "locked";
  fs::create_directory(locked);
  const fs::path tpl = template_file("t.j2", "new");
  ::chmod(tpl.c_str(), 0644);
  ::chmod(dir_.c_str(), 0755);
  ::chmod(locked.c_str(), 0555);
  const std::string expected = "formula rendering failed: " + korvel_beads::os_error_text(EACCES);

  if (::geteuid() != 0) {
    auto result = render_formula(tpl, locked / "x.formula.toml", {});
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message(), expected);
  } else {
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      ::close(report[0]);
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
      auto result = render_formula(tpl, locked / "x.formula.toml", {});
      const std::string message = result.has_value() ? "succeeded" : result.error().message();
      (void)!::write(report[1], message.data(), message.size());
      ::_exit(0);
    }
    ::close(report[1]);
    std::string message;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "could not drop privileges";
    EXPECT_EQ(message, expected);
  }
  EXPECT_TRUE(fs::is_empty(locked));
}

}  // namespace
