// The pipeline end to end with the standard process runner and a small scripted `bd`: a shell
// script written by each case that records its working directory and arguments and answers each
// subcommand the way the case needs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "korvel_beads/execute/execute.hpp"

namespace {

namespace fs = std::filesystem;
using korvel_beads::BeadComposeRequest;
using korvel_beads::BeadOperation;
using korvel_beads::BeadOutcome;
using korvel_beads::BeadStage;
using korvel_beads::BeadStageOutcome;

void write_file(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What the scripted bd does for each subcommand: shell commands that print and exit.
struct BdScript {
  std::string cook = "echo cooked; echo cook-note >&2; exit 0";
  std::string where;  // default: report the fixture's registry
  std::string pour = "echo '{\"poured\": true}'; exit 0";
};

// One invocation of the scripted bd as it recorded itself.
struct Invocation {
  std::string cwd;
  std::vector<std::string> args;
};

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korvel-e2e-XXXXXX").native();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = fs::canonical(pattern);
    wd_ = root_ / "project";
    registry_ = root_ / "beads";
    fs::create_directories(wd_);
    fs::create_directories(registry_ / "formulas");
    write_file(wd_ / "flow.formula.toml.j2", "title = \"{{{ title }}}\"\n");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path write_bd(const BdScript& script) {
    const std::string where = script.where.empty()
                                  ? "printf '{\"path\": \"%s\"}\\n' '" + registry_.native() + "'"
                                  : script.where;
    const fs::path bd = root_ / "bin" / "bd";
    fs::create_directories(bd.parent_path());
    const std::string log = (root_ / "bd.log").native();
    write_file(bd,
               "#!/bin/sh\n"
               "{ printf 'cwd=%s\\n' \"$(pwd -P)\"; "
               "for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done; echo end; } >> '" +
                   log +
                   "'\n"
                   "case \"$1\" in\n"
                   "  cook) " +
                   script.cook +
                   "; exit $?;;\n"
                   "  where) " +
                   where +
                   "; exit $?;;\n"
                   "  mol) " +
                   script.pour +
                   "; exit $?;;\n"
                   "esac\n"
                   "exit 64\n");
    ::chmod(bd.c_str(), 0755);
    return bd;
  }

  std::vector<Invocation> invocations() const {
    std::vector<Invocation> calls;
    std::ifstream log(root_ / "bd.log");
    Invocation current;
    for (std::string line; std::getline(log, line);) {
      if (line.starts_with("cwd=")) current.cwd = line.substr(4);
      if (line.starts_with("arg=")) current.args.push_back(line.substr(4));
      if (line == "end") calls.push_back(std::exchange(current, {}));
    }
    return calls;
  }

  BeadComposeRequest request(BeadOperation operation, const fs::path& bd) const {
    BeadComposeRequest r;
    r.working_directory = wd_;
    r.template_path = wd_ / "flow.formula.toml.j2";
    r.compose_variables = {{"title", korvel::json::Value("Night \"run\"")}};
    r.operation = operation;
    r.bead_variables = {{"when", "today"}, {"area", "x=y"}};
    r.bd_executable = bd;
    if (operation >= BeadOperation::PreviewPour) {
      r.rendered_formula = registry_ / "formulas" / "flow.formula.toml";
      r.formula_name = "flow";
      r.pour_authorization = korvel_beads::PourAuthorization::CreatePersistentBeads;
    } else {
      r.rendered_formula = wd_ / "flow.formula.toml";
    }
    return r;
  }

  fs::path root_, wd_, registry_;
};

TEST_F(EndToEndTest, EachOperationRunsItsStagesThroughBd) {
  using Args = std::vector<std::string>;
  struct Case {
    BeadOperation operation;
    std::vector<Args> calls;  // after the program
  };
  const Case cases[] = {
      {BeadOperation::Render, {}},
      {BeadOperation::Validate,
       {{"cook", "WD", "--dry-run", "--json", "--var", "area=x=y", "--var", "when=today"}}},
      {BeadOperation::PreviewPour,
       {{"cook", "REG", "--dry-run", "--json", "--var", "area=x=y", "--var", "when=today"},
        {"where", "--json"},
        {"mol", "pour", "flow", "--dry-run", "--json", "--var", "area=x=y", "--var",
         "when=today"}}},
      {BeadOperation::Pour,
       {{"cook", "REG", "--dry-run", "--json", "--var", "area=x=y", "--var", "when=today"},
        {"where", "--json"},
        {"mol", "pour", "flow", "--json", "--var", "area=x=y", "--var", "when=today"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(korvel_beads::text_form(c.operation)));
    fs::remove(root_ / "bd.log");
    const fs::path bd = write_bd({});
    const BeadComposeRequest r = request(c.operation, bd);
    auto result = korvel_beads::execute_bead_request(r);
    ASSERT_TRUE(result.has_value()) << result.error().message();
    EXPECT_EQ(result->outcome, BeadOutcome::succeeded());
    EXPECT_EQ(result->rendered_formula, r.rendered_formula);
    // The TOML template's value is escaped for a TOML basic string; the engine drops the
    // template's one final line break.
    EXPECT_EQ(read_file(r.rendered_formula), "title = \"Night \\\"run\\\"\"");

    const auto calls = invocations();
    ASSERT_EQ(calls.size(), c.calls.size());
    ASSERT_EQ(result->stages.size(), 1 + c.calls.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
      Args expected = c.calls[i];
      for (auto& arg : expected) {
        if (arg == "WD") arg = r.rendered_formula.native();
        if (arg == "REG") arg = r.rendered_formula.native();
      }
      EXPECT_EQ(calls[i].args, expected);
      EXPECT_EQ(calls[i].cwd, wd_.native());
      const auto& stage = result->stages[i + 1];
      Args argv = expected;
      argv.insert(argv.begin(), bd.native());
      EXPECT_EQ(stage.argv, argv);
      EXPECT_EQ(stage.exit_status, 0);
      EXPECT_EQ(stage.outcome, BeadStageOutcome::succeeded());
    }
    if (calls.size() >= 1) {
      EXPECT_EQ(result->stages[1].stdout_excerpt, "cooked\n");
      EXPECT_EQ(result->stages[1].stderr_excerpt, "cook-note\n");
    }
    if (calls.size() == 3) {
      EXPECT_EQ(result->stages[3].stdout_excerpt, "{\"poured\": true}\n");
    }
  }
}

TEST_F(EndToEndTest, StageFailuresAndErrorsFromARealChild) {
  // 20000 two-byte characters: within the capture limit, beyond the excerpt.
  const std::string many_e_acute =
      "i=0; while [ $i -lt 20000 ]; do printf '\\303\\251'; i=$((i+1)); done";
  struct Case {
    const char* name;
    BeadOperation operation;
    BdScript script;
    std::optional<std::string> outcome_code;  // receipt Failed with this code
    std::optional<int> exit_status;           // of the last stage
    std::size_t stages;
    const char* error_code;  // the request ends with this error instead
    const char* error_stage;
  };
  BdScript cook_fails;
  cook_fails.cook = "echo broken >&2; exit 3";
  BdScript killed;
  killed.cook = "kill -9 $$";
  BdScript where_garbage;
  where_garbage.where = "echo 'not json'";
  BdScript where_floods;
  where_floods.where = "head -c 70000 /dev/zero";
  BdScript pour_fails;
  pour_fails.pour = "exit 5";
  BdScript long_preview;
  long_preview.pour = many_e_acute;

  const Case cases[] = {
      {"cook exits 3", BeadOperation::Validate, cook_fails, "BEADS_COOK_FAILED", 3, 2, nullptr,
       nullptr},
      {"cook killed by a signal", BeadOperation::Pour, killed, "BEADS_COOK_FAILED", std::nullopt, 2,
       nullptr, nullptr},
      {"where prints no JSON", BeadOperation::PreviewPour, where_garbage, "BEADS_WHERE_FAILED", 0,
       3, nullptr, nullptr},
      {"pour exits 5", BeadOperation::Pour, pour_fails, "BEADS_POUR_FAILED", 5, 4, nullptr,
       nullptr},
      {"where floods its output", BeadOperation::Pour, where_floods, std::nullopt, std::nullopt, 0,
       "BEADS_PROCESS_OUTPUT_LIMIT", "resolve_active_registry"},
      {"long preview output", BeadOperation::PreviewPour, long_preview, std::nullopt, 0, 4, nullptr,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(root_ / "bd.log");
    const BeadComposeRequest r = request(c.operation, write_bd(c.script));
    auto result = korvel_beads::execute_bead_request(r);
    // The formula is written before any bd stage runs, whatever happens there.
    EXPECT_TRUE(fs::is_regular_file(r.rendered_formula));
    if (c.error_code != nullptr) {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error().code(), c.error_code);
      EXPECT_EQ(result.error().stage_name(), c.error_stage);
      continue;
    }
    ASSERT_TRUE(result.has_value()) << result.error().message();
    EXPECT_EQ(result->outcome,
              c.outcome_code ? BeadOutcome::failed(*c.outcome_code) : BeadOutcome::succeeded());
    ASSERT_EQ(result->stages.size(), c.stages);
    EXPECT_EQ(result->stages.back().exit_status, c.exit_status);
    EXPECT_EQ(invocations().size(), c.stages - 1);
    if (std::string(c.name) == "cook exits 3") {
      EXPECT_EQ(result->stages.back().stderr_excerpt, "broken\n");
    }
    if (std::string(c.name) == "long preview output") {
      std::string expected;
      for (int i = 0; i < 16384; ++i) expected += "\xC3\xA9";
      EXPECT_EQ(result->stages.back().stdout_excerpt, expected);
    }
  }
}

TEST_F(EndToEndTest, MissingBdEndsTheRequestAfterTheFormulaIsWritten) {
  const fs::path missing = root_ / "bin" / "no-such-bd";
  BeadComposeRequest r = request(BeadOperation::Validate, missing);
  auto result = korvel_beads::execute_bead_request(r);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().code(), "BEADS_BD_UNAVAILABLE");
  EXPECT_EQ(result.error().stage_name(), "validate");
  EXPECT_EQ(result.error().path(), missing);
  EXPECT_TRUE(fs::is_regular_file(r.rendered_formula));

  // The same request as a render never needs bd.
  r.operation = BeadOperation::Render;
  auto rendered = korvel_beads::execute_bead_request(r);
  ASSERT_TRUE(rendered.has_value()) << rendered.error().message();
  EXPECT_EQ(rendered->outcome, BeadOutcome::succeeded());
  EXPECT_EQ(rendered->stages.size(), 1u);
}

TEST_F(EndToEndTest, AProgramTheSystemCannotTakeIsAnInvalidArgument) {
  const fs::path program = (root_ / "bin" / "bd").native() + std::string("\0x", 2);
  write_bd({});
  BeadComposeRequest r = request(BeadOperation::Validate, program);
  auto result = korvel_beads::execute_bead_request(r);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().code(), "BEADS_PROCESS_ARGUMENT_INVALID");
  EXPECT_EQ(result.error().stage_name(), "validate");
  EXPECT_EQ(result.error().path(), program);
  EXPECT_EQ(result.error().text(), "nul byte found in provided data");
  EXPECT_TRUE(invocations().empty());
  EXPECT_TRUE(fs::is_regular_file(r.rendered_formula));
}

TEST_F(EndToEndTest, AFormulaNameWithANulNeverReachesThePour) {
  BeadComposeRequest r = request(BeadOperation::PreviewPour, write_bd({}));
  r.formula_name = std::string("flow\0x", 6);
  auto result = korvel_beads::execute_bead_request(r);
  // No registry file can carry the name, so the resolve stage rejects the formula.
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_EQ(result->outcome, BeadOutcome::failed("BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY"));
  EXPECT_EQ(invocations().size(), 2u);
}

}  // namespace
