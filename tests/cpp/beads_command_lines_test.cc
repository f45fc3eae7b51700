// Tests for what the system says to bd: the variable key and value rules, the "--var" arguments,
// the argument list of each stage, and the UTF-8 and suffix rules for formula paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korvel_beads/beads/command_lines.hpp"
#include "korvel_beads/beads/formula_path.hpp"
#include "korvel_beads/beads/variables.hpp"

namespace {

using namespace korvel_beads;
using Args = std::vector<std::string>;

TEST(BeadVariables, KeyRule) {
  for (const std::string key : {"A", "_x", "a-b", "a_1", "_", "a-", "Z9_-z"}) {
    EXPECT_TRUE(is_valid_variable_key(key)) << key;
  }
  const std::string invalid[] = {
      "",
      "1a",
      "-a",
      "a.b",
      "a=b",
      "a b",
      " a",
      "a\t",
      "\xC3\xA9",
      "a\xC3\xA9",
      std::string("a\0b", 3),
      "a/b",
      "a:b",
  };
  for (const auto& key : invalid) EXPECT_FALSE(is_valid_variable_key(key)) << key;
}

TEST(BeadVariables, ValueRuleRefusesOnlyNul) {
  for (const std::string value : {"", " ", "a=b", "line\nbreak", "\xC3\xA9", "--var", "\"q\""}) {
    EXPECT_TRUE(is_valid_variable_value(value)) << value;
  }
  EXPECT_FALSE(is_valid_variable_value(std::string("a\0b", 3)));
  EXPECT_FALSE(is_valid_variable_value(std::string(1, '\0')));
}

TEST(BeadVariables, KeysAreCheckedBeforeValuesInKeyOrder) {
  const std::string nul_value("x\0y", 3);
  struct Case {
    std::map<std::string, std::string> variables;
    std::string code;
    std::string message;
  };
  const Case cases[] = {
      {{}, "", ""},
      {{{"a", "1"}, {"b", ""}}, "", ""},
      // A bad value under "a" comes first in key order, but every key is tested first.
      {{{"a", nul_value}, {"z.z", "1"}},
       "BEADS_VARIABLE_KEY_INVALID",
       "invalid Beads variable key `z.z`"},
      // Of two bad keys, the first in ascending byte order ("B" before "a").
      {{{"a b", "1"}, {"B.", "1"}},
       "BEADS_VARIABLE_KEY_INVALID",
       "invalid Beads variable key `B.`"},
      {{{"b", nul_value}, {"a", "ok"}, {"c", nul_value}},
       "BEADS_VARIABLE_VALUE_INVALID",
       "invalid Beads variable value for `b`: \"x\\0y\""},
  };
  for (const auto& c : cases) {
    const auto result = validate_bead_variables(c.variables);
    if (c.code.empty()) {
      EXPECT_TRUE(result) << result.error().message();
      continue;
    }
    ASSERT_FALSE(result) << c.message;
    EXPECT_EQ(result.error().code(), c.code);
    EXPECT_EQ(result.error().message(), c.message);
  }
}

TEST(BeadVariables, AppendsVarPairsInAscendingKeyOrder) {
  BeadComposeRequest request;
  Args args = {"keep"};
  append_variables(args, request);
  EXPECT_EQ(args, Args{"keep"});

  request.bead_variables = {{"z", "26"}, {"a", "x=1"}, {"m", ""}, {"B", "upper"}, {"k", "a=b"}};
  append_variables(args, request);
  EXPECT_EQ(args, (Args{"keep", "--var", "B=upper", "--var", "a=x=1", "--var", "k=a=b", "--var",
                        "m=", "--var", "z=26"}));
}

BeadComposeRequest request_with_variables() {
  BeadComposeRequest request;
  request.bead_variables = {{"b", "2"}, {"a", "x=1"}};
  return request;
}

TEST(BeadCommandLines, EachStageHasItsArgumentList) {
  const BeadComposeRequest request = request_with_variables();
  const BeadComposeRequest no_variables;
  struct Case {
    Args args;
    Args expected;
  };
  const Case cases[] = {
      {validate_args("/w/sub/deploy.formula.toml", request),
       {"cook", "/w/sub/deploy.formula.toml", "--dry-run", "--json", "--var", "a=x=1", "--var",
        "b=2"}},
      {validate_args("/w/deploy.formula.json", no_variables),
       {"cook", "/w/deploy.formula.json", "--dry-run", "--json"}},
      // The resolve stage never gets variables.
      {resolve_args(), {"where", "--json"}},
      {pour_args("deploy", request, true),
       {"mol", "pour", "deploy", "--dry-run", "--json", "--var", "a=x=1", "--var", "b=2"}},
      {pour_args("deploy", request, false),
       {"mol", "pour", "deploy", "--json", "--var", "a=x=1", "--var", "b=2"}},
      // The name goes over exactly as supplied, as one argument.
      {pour_args("team/my deploy --x", no_variables, false),
       {"mol", "pour", "team/my deploy --x", "--json"}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.args, c.expected);

  // A path that is not UTF-8 is passed as its bytes (the pipeline refuses such paths earlier).
  EXPECT_EQ(validate_args("/w/\xFF.formula.toml", no_variables)[1], "/w/\xFF.formula.toml");
}

TEST(BeadCommandLines, ProgramIsTheRequestedExecutableOrBd) {
  BeadComposeRequest request;
  EXPECT_EQ(bd_program(request), std::filesystem::path("bd"));
  request.bd_executable = std::filesystem::path("/opt/beads/bin/bd");
  EXPECT_EQ(bd_program(request), std::filesystem::path("/opt/beads/bin/bd"));
}

TEST(FormulaPath, SuffixRule) {
  struct Case {
    std::string path;
    bool formula;
  };
  const Case cases[] = {
      {"/w/deploy.formula.toml", true},
      {"/w/deploy.formula.json", true},
      {"deploy.formula.toml", true},
      {".formula.toml", true},
      {"/w/.formula.json", true},
      {"/w/deploy.FORMULA.TOML", false},
      {"/w/deploy.formula.Toml", false},
      {"/w/deploy.toml", false},
      {"/w/deploy.json", false},
      {"/w/deploy.formula.toml.j2", false},
      {"/w/deploy.formula.toml ", false},
      {"/w/deploy.formula.toml/", false},
      {"/w/deploy.formula.yaml", false},
      {"formula.toml", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_formula_path(c.path), c.formula) << c.path;
}

TEST(FormulaPath, Utf8RuleKeepsTheBytes) {
  EXPECT_TRUE(validate_utf8_path("/w/caf\xC3\xA9/x.formula.toml"));
  EXPECT_TRUE(validate_utf8_path(""));
  const std::string raw = "/w/caf\xE9/x.formula.toml";
  const auto result = validate_utf8_path(raw);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code(), "BEADS_PATH_NOT_UTF8");
  EXPECT_EQ(result.error().path().native(), raw);
  EXPECT_EQ(result.error().message(),
            "Beads composition paths must be valid UTF-8: /w/caf\xEF\xBF\xBD/x.formula.toml");
  // An encoded surrogate is not UTF-8 either.
  EXPECT_FALSE(validate_utf8_path("/w/\xED\xA0\x80"));
}

}  // namespace
