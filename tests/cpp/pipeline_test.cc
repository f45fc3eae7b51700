// The stage pipeline driven by a substitute ProcessRunner: every operation against every way each
// bd stage can end, the registry checks of the resolve stage, and request validation on real
// temporary trees (nothing written, no child started).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "korvel_beads/execute/execute.hpp"
#include "korvel_beads/execute/stage.hpp"

namespace {

namespace fs = std::filesystem;
using korvel_beads::BeadComposeError;
using korvel_beads::BeadComposeReceipt;
using korvel_beads::BeadComposeRequest;
using korvel_beads::BeadOperation;
using korvel_beads::BeadStage;
using korvel_beads::BeadStageOutcome;
using korvel_beads::CommandSpec;
using korvel_beads::ProcessOutput;
using korvel_beads::ProcessRunner;
using korvel_beads::RunnerError;
using korvel_beads::RunnerErrorKind;

// Hands out prepared results in order and records every command it was given.
class ScriptedRunner final : public ProcessRunner {
 public:
  std::deque<std::expected<ProcessOutput, RunnerError>> results;
  std::vector<CommandSpec> commands;

  std::expected<ProcessOutput, RunnerError> run(const CommandSpec& command) override {
    commands.push_back(command);
    if (results.empty()) {
      return std::unexpected(RunnerError::custom(RunnerErrorKind::Other, "no result"));
    }
    auto result = std::move(results.front());
    results.pop_front();
    return result;
  }
};

ProcessOutput exited(int status, std::string out = "", std::string err = "") {
  ProcessOutput output;
  output.stdout = std::move(out);
  output.stderr = std::move(err);
  output.exit_status = status;
  output.elapsed = std::chrono::milliseconds(7);
  return output;
}

ProcessOutput signalled() {
  ProcessOutput output = exited(0, "partial", "killed");
  output.exit_status.reset();
  return output;
}

void write_file(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every entry below `root`, for "nothing was written" checks.
std::set<std::string> snapshot(const fs::path& root) {
  std::set<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    entries.insert(entry.path().native());
  }
  return entries;
}

// root/wd holds the template; root/beads/formulas is the active registry, outside wd.
class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korvel-pipeline-XXXXXX").native();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = fs::canonical(pattern);
    wd_ = root_ / "wd";
    registry_ = root_ / "beads";
    fs::create_directories(wd_);
    fs::create_directories(registry_ / "formulas");
    write_file(wd_ / "demo.formula.toml.j2", "formula = \"demo\"\n");
  }
  void TearDown() override { fs::remove_all(root_); }

  BeadComposeRequest request(BeadOperation operation) const {
    BeadComposeRequest r;
    r.working_directory = wd_;
    r.template_path = wd_ / "demo.formula.toml.j2";
    r.operation = operation;
    r.bead_variables = {{"zone", "eu"}, {"count", "a=1"}};
    if (operation >= BeadOperation::PreviewPour) {
      r.rendered_formula = registry_ / "formulas" / "demo.formula.toml";
      r.formula_name = "demo";
      r.pour_authorization = korvel_beads::PourAuthorization::CreatePersistentBeads;
    } else {
      r.rendered_formula = wd_ / "demo.formula.toml";
    }
    return r;
  }

  std::string where_output() const { return "{\"path\": \"" + registry_.native() + "\"}\n"; }

  fs::path root_, wd_, registry_;
};

// The bd stages an operation runs, in order.
std::vector<BeadStage> bd_stages(BeadOperation operation) {
  switch (operation) {
    case BeadOperation::Render:
      return {};
    case BeadOperation::Validate:
      return {BeadStage::Validate};
    case BeadOperation::PreviewPour:
      return {BeadStage::Validate, BeadStage::ResolveActiveRegistry, BeadStage::PreviewPour};
    case BeadOperation::Pour:
      return {BeadStage::Validate, BeadStage::ResolveActiveRegistry, BeadStage::Pour};
  }
  return {};
}

std::string failure_code(BeadStage stage) {
  switch (stage) {
    case BeadStage::Validate:
      return "BEADS_COOK_FAILED";
    case BeadStage::ResolveActiveRegistry:
      return "BEADS_WHERE_FAILED";
    case BeadStage::PreviewPour:
      return "BEADS_PREVIEW_POUR_FAILED";
    case BeadStage::Pour:
      return "BEADS_POUR_FAILED";
    case BeadStage::Render:
      break;
  }
  return "";
}

TEST_F(PipelineTest, EveryOperationSucceedsWithItsStagesAndCommandLines) {
  for (auto operation : {BeadOperation::Render, BeadOperation::Validate, BeadOperation::PreviewPour,
                         BeadOperation::Pour}) {
    SCOPED_TRACE(std::string(korvel_beads::text_form(operation)));
    BeadComposeRequest r = request(operation);
    ScriptedRunner runner;
    runner.results.push_back(exited(0, "cooked", "note"));
    runner.results.push_back(exited(0, where_output()));
    runner.results.push_back(exited(0, "poured"));

    auto result = korvel_beads::execute_bead_request_with_runner(r, runner);
    ASSERT_TRUE(result.has_value()) << result.error().message();
    EXPECT_EQ(result->schema, "korvel/beads/v1");
    EXPECT_EQ(result->operation, operation);
    EXPECT_EQ(result->rendered_formula, r.rendered_formula);
    EXPECT_EQ(result->outcome, korvel_beads::BeadOutcome::succeeded());
    // The engine drops the template's one final line break.
    EXPECT_EQ(read_file(r.rendered_formula), "formula = \"demo\"");

    const auto expected_bd = bd_stages(operation);
    ASSERT_EQ(result->stages.size(), 1 + expected_bd.size());
    const auto& render = result->stages[0];
    EXPECT_EQ(render.stage, BeadStage::Render);
    EXPECT_TRUE(render.argv.empty());
    EXPECT_FALSE(render.exit_status.has_value());
    EXPECT_TRUE(render.stdout_excerpt.empty());
    EXPECT_TRUE(render.stderr_excerpt.empty());
    for (std::size_t i = 0; i < result->stages.size(); ++i) {
      EXPECT_EQ(result->stages[i].outcome, BeadStageOutcome::succeeded());
    }
    ASSERT_EQ(runner.commands.size(), expected_bd.size());
    for (std::size_t i = 0; i < expected_bd.size(); ++i) {
      EXPECT_EQ(result->stages[i + 1].stage, expected_bd[i]);
      EXPECT_EQ(result->stages[i + 1].exit_status, 0);
      EXPECT_EQ(result->stages[i + 1].elapsed_ms, 7u);
      EXPECT_EQ(result->stages[i + 1].argv, runner.commands[i].argv());
      EXPECT_EQ(runner.commands[i].program, fs::path("bd"));
      EXPECT_EQ(runner.commands[i].cwd, wd_);
    }
    const std::string path = r.rendered_formula.native();
    using Args = std::vector<std::string>;
    if (expected_bd.size() >= 1) {
      EXPECT_EQ(runner.commands[0].args, (Args{"cook", path, "--dry-run", "--json", "--var",
                                               "count=a=1", "--var", "zone=eu"}));
      EXPECT_EQ(result->stages[1].stdout_excerpt, "cooked");
      EXPECT_EQ(result->stages[1].stderr_excerpt, "note");
    }
    if (expected_bd.size() >= 2) {
      EXPECT_EQ(runner.commands[1].args, (Args{"where", "--json"}));
      EXPECT_EQ(runner.commands[2].args, operation == BeadOperation::PreviewPour
                                             ? (Args{"mol", "pour", "demo", "--dry-run", "--json",
                                                     "--var", "count=a=1", "--var", "zone=eu"})
                                             : (Args{"mol", "pour", "demo", "--json", "--var",
                                                     "count=a=1", "--var", "zone=eu"}));
    }
  }
}

TEST_F(PipelineTest, TheRequestedProgramRunsEveryStage) {
  BeadComposeRequest r = request(BeadOperation::PreviewPour);
  r.bd_executable = fs::path("/opt/beads/bin/bd");
  ScriptedRunner runner;
  runner.results = {exited(0), exited(0, where_output()), exited(0)};
  auto result = korvel_beads::execute_bead_request_with_runner(r, runner);
  ASSERT_TRUE(result.has_value());
  ASSERT_EQ(runner.commands.size(), 3u);
  ASSERT_EQ(result->stages.size(), 4u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(runner.commands[i].program, fs::path("/opt/beads/bin/bd"));
    EXPECT_EQ(result->stages[i + 1].argv.front(), "/opt/beads/bin/bd");
  }
}

// How a bd stage can end, and what the request makes of it.
struct Ending {
  const char* name;
  std::function<std::expected<ProcessOutput, RunnerError>()> result;
  // Set: the stage ran and failed with its stage's code, keeping this exit status.
  bool stage_failed;
  std::optional<int> exit_status;
  // Set when the request ends with an error instead.
  const char* error_code;
  const char* error_stage;  // nullptr: the stage the ending happened in
};

const Ending kEndings[] = {
    {"exit status 2", [] { return exited(2, "out", "err"); }, true, 2, nullptr, nullptr},
    {"exit status 255", [] { return exited(255); }, true, 255, nullptr, nullptr},
    {"killed by a signal", [] { return signalled(); }, true, std::nullopt, nullptr, nullptr},
    {"output limit", [] { return std::unexpected(korvel_beads::process_output_limit_error()); },
     false, std::nullopt, "BEADS_PROCESS_OUTPUT_LIMIT", nullptr},
    {"program not found", [] { return std::unexpected(RunnerError::from_os(ENOENT)); }, false,
     std::nullopt, "BEADS_BD_UNAVAILABLE", "validate"},
    {"not executable", [] { return std::unexpected(RunnerError::from_os(EACCES)); }, false,
     std::nullopt, "BEADS_BD_UNAVAILABLE", "validate"},
    {"nul in an argument",
     [] {
       return std::unexpected(
           RunnerError::custom(RunnerErrorKind::InvalidInput, "nul byte found in provided data"));
     },
     false, std::nullopt, "BEADS_PROCESS_ARGUMENT_INVALID", "validate"},
    {"EINVAL from the system", [] { return std::unexpected(RunnerError::from_os(EINVAL)); }, false,
     std::nullopt, "BEADS_PROCESS_ARGUMENT_INVALID", "validate"},
    // Same kind as the limit error but another text: not the limit.
    {"other runner failure",
     [] {
       return std::unexpected(RunnerError::custom(RunnerErrorKind::Other,
                                                  "korvel-beads process output limit exceeded!"));
     },
     false, std::nullopt, "BEADS_BD_UNAVAILABLE", "validate"},
};

TEST_F(PipelineTest, EachBdStageEndingOfEachOperation) {
  for (auto operation :
       {BeadOperation::Validate, BeadOperation::PreviewPour, BeadOperation::Pour}) {
    const auto stages = bd_stages(operation);
    for (std::size_t at = 0; at < stages.size(); ++at) {
      for (const Ending& ending : kEndings) {
        SCOPED_TRACE(std::string(korvel_beads::text_form(operation)) + " / " +
                     std::string(korvel_beads::text_form(stages[at])) + " / " + ending.name);
        ScriptedRunner runner;
        for (std::size_t i = 0; i < at; ++i) {
          runner.results.push_back(stages[i] == BeadStage::ResolveActiveRegistry
                                       ? exited(0, where_output())
                                       : exited(0));
        }
        runner.results.push_back(ending.result());
        auto result = korvel_beads::execute_bead_request_with_runner(request(operation), runner);
        // No later stage runs.
        EXPECT_EQ(runner.commands.size(), at + 1);

        if (!ending.stage_failed) {
          ASSERT_FALSE(result.has_value());
          EXPECT_EQ(result.error().code(), ending.error_code);
          const std::string stage = ending.error_stage != nullptr
                                        ? ending.error_stage
                                        : std::string(korvel_beads::text_form(stages[at]));
          EXPECT_EQ(result.error().stage_name(), stage);
          if (result.error().variant() == BeadComposeError::Variant::ProcessOutputLimit) {
            EXPECT_EQ(result.error().limit(), 65536u);
            EXPECT_EQ(result.error().stage(), stages[at]);
          }
          if (result.error().variant() == BeadComposeError::Variant::ProcessArgumentInvalid) {
            EXPECT_EQ(result.error().text(), ending.result().error().display());
            EXPECT_EQ(result.error().path(), fs::path("bd"));
          }
          continue;
        }
        ASSERT_TRUE(result.has_value());
        const std::string code = failure_code(stages[at]);
        EXPECT_EQ(result->outcome, korvel_beads::BeadOutcome::failed(code));
        ASSERT_EQ(result->stages.size(), at + 2);
        for (std::size_t i = 0; i + 1 < result->stages.size(); ++i) {
          EXPECT_EQ(result->stages[i].outcome, BeadStageOutcome::succeeded());
        }
        const auto& last = result->stages.back();
        EXPECT_EQ(last.stage, stages[at]);
        EXPECT_EQ(last.outcome, BeadStageOutcome::failed(code));
        EXPECT_EQ(last.exit_status, ending.exit_status);
        const ProcessOutput prepared = *ending.result();
        EXPECT_EQ(last.stdout_excerpt, prepared.stdout);
        EXPECT_EQ(last.stderr_excerpt, prepared.stderr);
      }
    }
  }
}

// Resolve stage outputs that exit 0 but whose registry the pipeline rejects: the stage keeps exit
// status 0 and its excerpts and turns Failed.
TEST_F(PipelineTest, RegistryChecksFailTheResolveStageAfterTheFact) {
  const fs::path elsewhere = root_ / "other-beads";
  fs::create_directories(elsewhere / "formulas");
  struct Case {
    const char* name;
    std::string where_stdout;
    std::function<void()> prepare;
    const char* code;
  };
  const Case cases[] = {
      {"not JSON", "beads live here\n", [] {}, "BEADS_WHERE_FAILED"},
      {"path is a number", "{\"path\": 3}", [] {}, "BEADS_WHERE_FAILED"},
      {"two documents", where_output() + "{}", [] {}, "BEADS_WHERE_FAILED"},
      {"empty output", "", [] {}, "BEADS_WHERE_FAILED"},
      {"directory does not exist", "{\"path\": \"" + (root_ / "missing").native() + "\"}", [] {},
       "BEADS_WHERE_FAILED"},
      {"ambiguous registry", where_output(),
       [&] { write_file(registry_ / "formulas" / "demo.formula.json", "{}"); },
       "BEADS_FORMULA_REGISTRY_AMBIGUOUS"},
      {"formula outside the registry", "{\"path\": \"" + elsewhere.native() + "\"}", [] {},
       "BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY"},
  };
  for (auto operation : {BeadOperation::PreviewPour, BeadOperation::Pour}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(korvel_beads::text_form(operation)) + " / " + c.name);
      fs::remove(registry_ / "formulas" / "demo.formula.json");
      c.prepare();
      ScriptedRunner runner;
      runner.results = {exited(0), exited(0, c.where_stdout, "where-err"), exited(0)};
      auto result = korvel_beads::execute_bead_request_with_runner(request(operation), runner);
      ASSERT_TRUE(result.has_value()) << result.error().message();
      EXPECT_EQ(runner.commands.size(), 2u);  // the pour stage never runs
      EXPECT_EQ(result->outcome, korvel_beads::BeadOutcome::failed(c.code));
      ASSERT_EQ(result->stages.size(), 3u);
      const auto& resolve = result->stages[2];
      EXPECT_EQ(resolve.stage, BeadStage::ResolveActiveRegistry);
      EXPECT_EQ(resolve.exit_status, 0);
      EXPECT_EQ(resolve.stderr_excerpt, "where-err");
      EXPECT_EQ(resolve.outcome, BeadStageOutcome::failed(c.code));
      EXPECT_EQ(result->stages[1].outcome, BeadStageOutcome::succeeded());
    }
  }
}

TEST_F(PipelineTest, RelativeRegistryResolvesAgainstTheProcessDirectory) {
  const fs::path before = fs::current_path();
  fs::current_path(root_);
  ScriptedRunner runner;
  runner.results = {exited(0), exited(0, "{\"path\": \"beads\"}"), exited(0)};
  auto result =
      korvel_beads::execute_bead_request_with_runner(request(BeadOperation::PreviewPour), runner);
  fs::current_path(before);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->outcome, korvel_beads::BeadOutcome::succeeded());
}

TEST_F(PipelineTest, RenderFailureIsAReceiptAndNoChildStarts) {
  write_file(wd_ / "demo.formula.toml.j2", "formula = \"{{{ name \"\n");
  for (auto operation : {BeadOperation::Render, BeadOperation::Pour}) {
    ScriptedRunner runner;
    auto result = korvel_beads::execute_bead_request_with_runner(request(operation), runner);
    ASSERT_TRUE(result.has_value()) << result.error().message();
    EXPECT_TRUE(runner.commands.empty());
    EXPECT_EQ(result->outcome, korvel_beads::BeadOutcome::failed("BEADS_RENDER_FAILED"));
    ASSERT_EQ(result->stages.size(), 1u);
    EXPECT_EQ(result->stages[0].outcome, BeadStageOutcome::failed("BEADS_RENDER_FAILED"));
    EXPECT_FALSE(fs::exists(request(operation).rendered_formula));
  }
}

// --- Validation: nothing written, no child started ---------------------------------------------

struct Refusal {
  const char* name;
  std::function<void(BeadComposeRequest&)> change;
  const char* code;
  // The path the error must carry; empty when the variant carries none.
  std::function<fs::path(const BeadComposeRequest&)> carried;
};

TEST_F(PipelineTest, ValidationRefusalsWriteNothingAndStartNothing) {
  fs::create_directories(wd_ / "dir.formula.toml.j2");
  fs::create_directories(root_ / "wdx");
  write_file(root_ / "wdx" / "t.formula.toml.j2", "x");
  write_file(root_ / "outside.j2", "x");
  fs::create_symlink(root_ / "outside.j2", wd_ / "link.j2");
  write_file(wd_ / "target.txt", "keep");
  fs::create_symlink(wd_ / "target.txt", wd_ / "linked.formula.toml");
  fs::create_symlink(wd_ / "nowhere", wd_ / "dangling.formula.toml");
  write_file(wd_ / "plain", "file");
  auto none = [](const BeadComposeRequest&) { return fs::path(); };

  const Refusal refusals[] = {
      {"schema with a trailing blank", [](auto& r) { r.schema = "korvel/beads/v1 "; },
       "BEADS_UNKNOWN_SCHEMA", none},
      {"schema in capitals", [](auto& r) { r.schema = "KORVEL/BEADS/V1"; }, "BEADS_UNKNOWN_SCHEMA",
       none},
      {"pour without a name or authorization",
       [](auto& r) {
         r.operation = BeadOperation::Pour;
         r.formula_name.reset();
         r.pour_authorization.reset();
       },
       "BEADS_FORMULA_NAME_REQUIRED", none},
      {"preview with an empty name",
       [](auto& r) {
         r.operation = BeadOperation::PreviewPour;
         r.formula_name = "";
       },
       "BEADS_FORMULA_NAME_REQUIRED", none},
      {"pour without authorization",
       [](auto& r) {
         r.operation = BeadOperation::Pour;
         r.formula_name = "demo";
         r.pour_authorization.reset();
       },
       "BEADS_POUR_AUTH_REQUIRED", none},
      {"render with a bad variable key", [](auto& r) { r.bead_variables["a.b"] = "1"; },
       "BEADS_VARIABLE_KEY_INVALID", none},
      {"keys are checked before values",
       [](auto& r) {
         r.bead_variables["a"] = std::string("x\0y", 3);
         r.bead_variables["z z"] = "1";
       },
       "BEADS_VARIABLE_KEY_INVALID", none},
      {"value with a NUL", [](auto& r) { r.bead_variables["a"] = std::string("x\0y", 3); },
       "BEADS_VARIABLE_VALUE_INVALID", none},
      {"missing working directory", [&](auto& r) { r.working_directory = root_ / "nope"; },
       "BEADS_TEMPLATE_PATH_INVALID", [](const auto& r) { return r.working_directory; }},
      {"working directory is a file",
       [&](auto& r) {
         r.working_directory = wd_ / "demo.formula.toml.j2";
         r.template_path = wd_ / "demo.formula.toml.j2";
       },
       "BEADS_TEMPLATE_PATH_INVALID", [](const auto& r) { return r.working_directory; }},
      {"missing template", [&](auto& r) { r.template_path = wd_ / "nope.j2"; },
       "BEADS_TEMPLATE_PATH_INVALID", [](const auto& r) { return r.template_path; }},
      {"template through a link leaving the working directory",
       [&](auto& r) { r.template_path = wd_ / "link.j2"; }, "BEADS_TEMPLATE_OUTSIDE_WORKING_DIR",
       [&](const auto&) { return root_ / "outside.j2"; }},
      {"template in a sibling whose name extends the working directory's",
       [&](auto& r) { r.template_path = root_ / "wdx" / "t.formula.toml.j2"; },
       "BEADS_TEMPLATE_OUTSIDE_WORKING_DIR",
       [&](const auto&) { return root_ / "wdx" / "t.formula.toml.j2"; }},
      {"template is a directory", [&](auto& r) { r.template_path = wd_ / "dir.formula.toml.j2"; },
       "BEADS_FORMULA_NOT_FILE", [&](const auto&) { return wd_ / "dir.formula.toml.j2"; }},
      {"render with a non-UTF-8 bd executable",
       [](auto& r) {
         r.bd_executable = fs::path(
             "/bin/b\xff"
             "d");
       },
       "BEADS_PATH_NOT_UTF8", [](const auto& r) { return *r.bd_executable; }},
      {"suffix in capitals", [&](auto& r) { r.rendered_formula = wd_ / "x.formula.TOML"; },
       "BEADS_FORMULA_EXTENSION_UNSUPPORTED", [&](const auto&) { return wd_ / "x.formula.TOML"; }},
      {"bare toml suffix", [&](auto& r) { r.rendered_formula = wd_ / "x.toml"; },
       "BEADS_FORMULA_EXTENSION_UNSUPPORTED", [&](const auto&) { return wd_ / "x.toml"; }},
      {"template suffix on the output",
       [&](auto& r) { r.rendered_formula = wd_ / "x.formula.toml.j2"; },
       "BEADS_FORMULA_EXTENSION_UNSUPPORTED",
       [&](const auto&) { return wd_ / "x.formula.toml.j2"; }},
      {"render output outside the working directory",
       [&](auto& r) { r.rendered_formula = root_ / "x.formula.json"; },
       "BEADS_OUTPUT_OUTSIDE_WORKING_DIR", [&](const auto&) { return root_ / "x.formula.json"; }},
      {"validate output outside the working directory",
       [&](auto& r) {
         r.operation = BeadOperation::Validate;
         r.rendered_formula = wd_ / ".." / "x.formula.json";
       },
       "BEADS_OUTPUT_OUTSIDE_WORKING_DIR", [&](const auto&) { return root_ / "x.formula.json"; }},
      {"output is a symbolic link",
       [&](auto& r) { r.rendered_formula = wd_ / "linked.formula.toml"; },
       "BEADS_OUTPUT_PATH_SYMLINK", [&](const auto&) { return wd_ / "linked.formula.toml"; }},
      {"output is a dangling symbolic link",
       [&](auto& r) { r.rendered_formula = wd_ / "dangling.formula.toml"; },
       "BEADS_OUTPUT_PATH_SYMLINK", [&](const auto&) { return wd_ / "dangling.formula.toml"; }},
      {"output whose parent is a file",
       [&](auto& r) { r.rendered_formula = wd_ / "plain" / "x.formula.toml"; },
       "BEADS_TEMPLATE_PATH_INVALID",
       [&](const auto&) { return wd_ / "plain" / "x.formula.toml"; }},
      {"output in a missing directory",
       [&](auto& r) { r.rendered_formula = wd_ / "gone" / "x.formula.toml"; },
       "BEADS_TEMPLATE_PATH_INVALID", [&](const auto&) { return wd_ / "gone" / "x.formula.toml"; }},
      {"output as a bare file name", [](auto& r) { r.rendered_formula = "x.formula.toml"; },
       "BEADS_TEMPLATE_PATH_INVALID", [](const auto&) { return fs::path("x.formula.toml"); }},
      // The system would see the path only up to the NUL: "wd/x" without the formula suffix.
      {"output holding a NUL",
       [&](auto& r) { r.rendered_formula = wd_ / std::string("x\0.formula.toml", 15); },
       "BEADS_TEMPLATE_PATH_INVALID",
       [&](const auto&) { return wd_ / std::string("x\0.formula.toml", 15); }},
      {"template holding a NUL",
       [&](auto& r) {
         r.template_path =
             fs::path((wd_ / "demo.formula.toml.j2").native() + std::string("\0x", 2));
       },
       "BEADS_TEMPLATE_PATH_INVALID", [](const auto& r) { return r.template_path; }},
  };
  for (auto operation : {BeadOperation::Render, BeadOperation::Validate, BeadOperation::PreviewPour,
                         BeadOperation::Pour}) {
    for (const Refusal& refusal : refusals) {
      SCOPED_TRACE(std::string(korvel_beads::text_form(operation)) + " / " + refusal.name);
      BeadComposeRequest r = request(operation);
      // Pour operations write to the registry; for the output cases use the same targets.
      refusal.change(r);
      if (std::string(refusal.code) == "BEADS_OUTPUT_OUTSIDE_WORKING_DIR" &&
          r.operation >= BeadOperation::PreviewPour) {
        continue;  // judged at the resolve stage instead, below
      }
      const auto before = snapshot(root_);
      ScriptedRunner runner;
      auto result = korvel_beads::execute_bead_request_with_runner(r, runner);
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error().code(), refusal.code);
      EXPECT_EQ(result.error().stage_name(), "request");
      EXPECT_EQ(result.error().path(), refusal.carried(r));
      EXPECT_TRUE(runner.commands.empty());
      EXPECT_EQ(snapshot(root_), before);
      EXPECT_EQ(read_file(wd_ / "target.txt"), "keep");
    }
  }
}

TEST_F(PipelineTest, PourOperationsMayWriteOutsideTheWorkingDirectory) {
  // The registry lies outside wd; a preview passes validation and is judged by the registry.
  ScriptedRunner runner;
  runner.results = {exited(0), exited(0, where_output()), exited(0)};
  BeadComposeRequest r = request(BeadOperation::PreviewPour);
  ASSERT_FALSE(r.rendered_formula.native().starts_with(wd_.native()));
  auto result = korvel_beads::execute_bead_request_with_runner(r, runner);
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_EQ(result->outcome, korvel_beads::BeadOutcome::succeeded());

  // Outside both: rendered, then refused by the registry check, the pour never runs.
  r.rendered_formula = root_ / "demo.formula.toml";
  ScriptedRunner second;
  second.results = {exited(0), exited(0, where_output()), exited(0)};
  result = korvel_beads::execute_bead_request_with_runner(r, second);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->outcome,
            korvel_beads::BeadOutcome::failed("BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY"));
  EXPECT_TRUE(fs::exists(root_ / "demo.formula.toml"));
  EXPECT_EQ(second.commands.size(), 2u);
}

TEST_F(PipelineTest, PreviewNeedsNoAuthorization) {
  BeadComposeRequest r = request(BeadOperation::PreviewPour);
  r.pour_authorization.reset();
  ScriptedRunner runner;
  runner.results = {exited(0), exited(0, where_output()), exited(0)};
  auto result = korvel_beads::execute_bead_request_with_runner(r, runner);
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_EQ(result->stages.size(), 4u);
}

TEST_F(PipelineTest, NonUtf8PathsAreRefused) {
  // File systems that insist on UTF-8 names (APFS) cannot hold these; skip there.
  const fs::path odd_dir = root_ / "w\xff";
  std::error_code ec;
  fs::create_directories(odd_dir, ec);
  if (ec) GTEST_SKIP() << "file system refuses non-UTF-8 names";
  write_file(odd_dir / "demo.formula.toml.j2", "x");
  write_file(wd_ / "t\xfe.formula.toml.j2", "x");

  struct Case {
    const char* name;
    std::function<void(BeadComposeRequest&)> change;
    fs::path carried;
  };
  const Case cases[] = {
      {"working directory",
       [&](auto& r) {
         r.working_directory = odd_dir;
         r.template_path = odd_dir / "demo.formula.toml.j2";
         r.rendered_formula = odd_dir / "demo.formula.toml";
       },
       odd_dir},
      {"template", [&](auto& r) { r.template_path = wd_ / "t\xfe.formula.toml.j2"; },
       wd_ / "t\xfe.formula.toml.j2"},
      {"output", [&](auto& r) { r.rendered_formula = wd_ / "o\xff.formula.toml"; },
       wd_ / "o\xff.formula.toml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BeadComposeRequest r = request(BeadOperation::Validate);
    c.change(r);
    const auto before = snapshot(root_);
    ScriptedRunner runner;
    auto result = korvel_beads::execute_bead_request_with_runner(r, runner);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().code(), "BEADS_PATH_NOT_UTF8");
    EXPECT_EQ(result.error().path(), c.carried);
    EXPECT_TRUE(runner.commands.empty());
    EXPECT_EQ(snapshot(root_), before);
  }
}

// --- The stage building blocks ------------------------------------------------------------------

TEST(StageExcerpt, KeepsTheFirst16384CharactersWithoutCuttingOne) {
  const std::string euro = "\xE2\x82\xAC";
  std::string mixed;
  for (int i = 0; i < 20000; ++i) mixed += (i % 2 == 0) ? euro : "a";
  const auto cut = korvel_beads::excerpt(mixed);
  std::string expected;
  for (int i = 0; i < 16384; ++i) expected += (i % 2 == 0) ? euro : "a";
  EXPECT_EQ(cut, expected);
  EXPECT_EQ(korvel_beads::excerpt(std::string(16384, 'x')), std::string(16384, 'x'));
  EXPECT_EQ(korvel_beads::excerpt(""), "");
  // A runner handing over raw bytes still gets valid text.
  EXPECT_EQ(korvel_beads::excerpt("a\xff"
                                  "b"),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(StageReceipts, FailedLastStageKeepsEverythingButTheOutcome) {
  std::vector<korvel_beads::BeadStageReceipt> stages(2);
  stages[1].stage = BeadStage::ResolveActiveRegistry;
  stages[1].exit_status = 0;
  stages[1].stdout_excerpt = "{}";
  auto r = korvel_beads::failed_last_stage_receipt(BeadOperation::Pour, "/w/x.formula.toml", stages,
                                                   BeadComposeError::where_failed());
  EXPECT_EQ(r.schema, "korvel/beads/v1");
  EXPECT_EQ(r.outcome, korvel_beads::BeadOutcome::failed("BEADS_WHERE_FAILED"));
  ASSERT_EQ(r.stages.size(), 2u);
  EXPECT_EQ(r.stages[0].outcome, BeadStageOutcome::succeeded());
  EXPECT_EQ(r.stages[1].outcome, BeadStageOutcome::failed("BEADS_WHERE_FAILED"));
  EXPECT_EQ(r.stages[1].exit_status, 0);
  EXPECT_EQ(r.stages[1].stdout_excerpt, "{}");

  auto empty =
      korvel_beads::failed_last_stage_receipt(BeadOperation::Pour, "/w/x.formula.toml", {},
                                              BeadComposeError::formula_registry_ambiguous("demo"));
  EXPECT_TRUE(empty.stages.empty());
  EXPECT_EQ(empty.outcome, korvel_beads::BeadOutcome::failed("BEADS_FORMULA_REGISTRY_AMBIGUOUS"));
}

TEST(StageReceipts, ElapsedMillisecondsAreTruncated) {
  ScriptedRunner runner;
  ProcessOutput output = exited(0);
  output.elapsed = std::chrono::nanoseconds(1'999'900'000);
  runner.results.push_back(output);
  std::vector<korvel_beads::BeadStageReceipt> stages;
  CommandSpec command{"bd", {"where", "--json"}, "/"};
  auto ended = korvel_beads::run_stage(runner, BeadStage::ResolveActiveRegistry, command,
                                       BeadComposeError::where_failed(), stages);
  ASSERT_TRUE(ended.has_value());
  EXPECT_TRUE(ended->has_value());
  ASSERT_EQ(stages.size(), 1u);
  EXPECT_EQ(stages[0].elapsed_ms, 1999u);
  EXPECT_EQ(stages[0].argv, (std::vector<std::string>{"bd", "where", "--json"}));
}

}  // namespace
