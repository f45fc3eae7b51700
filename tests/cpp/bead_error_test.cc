// Tests for BeadComposeError: the whole catalogue (code, message, stage of every variant), value
// quoting, path display, and the data each variant keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korvel_beads/contract/error.hpp"

namespace {

using korvel_beads::BeadComposeError;
using korvel_beads::BeadStage;
using korvel_beads::quote_value;
using Variant = BeadComposeError::Variant;

struct CatalogueCase {
  BeadComposeError error;
  std::string code;
  std::string message;
  std::string stage;
};

TEST(BeadComposeError, CatalogueInOrder) {
  const std::vector<CatalogueCase> cases = {
      {BeadComposeError::request_deserialization_failed("bad shape"),
       "BEADS_REQUEST_DESERIALIZATION_FAILED", "invalid Beads composition request: bad shape",
       "request"},
      {BeadComposeError::unknown_schema("korvel/beads/v2"), "BEADS_UNKNOWN_SCHEMA",
       "unsupported Beads composition schema `korvel/beads/v2`", "request"},
      {BeadComposeError::formula_not_file("/w/dir"), "BEADS_FORMULA_NOT_FILE",
       "formula path is not a file: /w/dir", "request"},
      {BeadComposeError::formula_extension_unsupported("/w/x.toml"),
       "BEADS_FORMULA_EXTENSION_UNSUPPORTED", "unsupported formula extension: /w/x.toml",
       "request"},
      {BeadComposeError::template_path_invalid("missing/t.j2"), "BEADS_TEMPLATE_PATH_INVALID",
       "invalid template path: missing/t.j2", "request"},
      {BeadComposeError::template_outside_working_dir("/v/t.j2"),
       "BEADS_TEMPLATE_OUTSIDE_WORKING_DIR", "template path escapes working directory: /v/t.j2",
       "request"},
      {BeadComposeError::output_outside_working_dir("/v/x.formula.toml"),
       "BEADS_OUTPUT_OUTSIDE_WORKING_DIR",
       "output path escapes working directory: /v/x.formula.toml", "request"},
      {BeadComposeError::output_path_symlink("/w/x.formula.toml"), "BEADS_OUTPUT_PATH_SYMLINK",
       "rendered output path is a symbolic link: /w/x.formula.toml", "request"},
      {BeadComposeError::path_not_utf8("/w/plain"), "BEADS_PATH_NOT_UTF8",
       "Beads composition paths must be valid UTF-8: /w/plain", "request"},
      {BeadComposeError::variable_key_invalid("a.b"), "BEADS_VARIABLE_KEY_INVALID",
       "invalid Beads variable key `a.b`", "request"},
      {BeadComposeError::variable_key_duplicate("k"), "BEADS_VARIABLE_KEY_DUPLICATE",
       "duplicate Beads variable key `k`", "request"},
      {BeadComposeError::variable_value_invalid("k", "v"), "BEADS_VARIABLE_VALUE_INVALID",
       "invalid Beads variable value for `k`: \"v\"", "request"},
      {BeadComposeError::formula_name_required(), "BEADS_FORMULA_NAME_REQUIRED",
       "formula name is required for pour operations", "request"},
      {BeadComposeError::pour_auth_required(), "BEADS_POUR_AUTH_REQUIRED",
       "persistent Beads creation requires explicit authorization", "request"},
      {BeadComposeError::pour_auth_invalid(), "BEADS_POUR_AUTH_INVALID",
       "persistent Beads creation authorization is invalid", "request"},
      {BeadComposeError::bd_unavailable("/opt/bd"), "BEADS_BD_UNAVAILABLE",
       "Beads executable is unavailable: /opt/bd", "validate"},
      {BeadComposeError::process_argument_invalid("bd", "argument holds a NUL byte"),
       "BEADS_PROCESS_ARGUMENT_INVALID",
       "invalid argument for Beads executable `bd`: argument holds a NUL byte", "validate"},
      {BeadComposeError::process_output_limit(BeadStage::ResolveActiveRegistry, 65536),
       "BEADS_PROCESS_OUTPUT_LIMIT",
       "Beads ResolveActiveRegistry output exceeded the 65536-byte capture limit",
       "resolve_active_registry"},
      {BeadComposeError::render_failed("undefined value at line 3"), "BEADS_RENDER_FAILED",
       "formula rendering failed: undefined value at line 3", "render"},
      {BeadComposeError::cook_failed(), "BEADS_COOK_FAILED", "Beads formula validation failed",
       "validate"},
      {BeadComposeError::where_failed(), "BEADS_WHERE_FAILED",
       "active Beads registry resolution failed", "resolve_active_registry"},
      {BeadComposeError::formula_outside_active_registry("/w/x.formula.toml"),
       "BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY",
       "formula is outside the active Beads registry: /w/x.formula.toml",
       "resolve_active_registry"},
      {BeadComposeError::formula_registry_ambiguous("deploy"), "BEADS_FORMULA_REGISTRY_AMBIGUOUS",
       "active Beads registry has ambiguous formula `deploy`", "resolve_active_registry"},
      {BeadComposeError::preview_pour_failed(), "BEADS_PREVIEW_POUR_FAILED",
       "Beads pour preview failed", "preview_pour"},
      {BeadComposeError::pour_failed(), "BEADS_POUR_FAILED", "persistent Beads pour failed",
       "pour"},
  };
  ASSERT_EQ(cases.size(), BeadComposeError::kVariantCount);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    EXPECT_EQ(static_cast<std::size_t>(c.error.variant()), i) << c.code;
    EXPECT_EQ(c.error.code(), c.code);
    EXPECT_EQ(BeadComposeError::code_of(c.error.variant()), c.code);
    EXPECT_EQ(c.error.message(), c.message) << c.code;
    EXPECT_EQ(c.error.stage_name(), c.stage) << c.code;
  }
}

TEST(BeadComposeError, OutputLimitReportsTheStageItCarries) {
  struct Case {
    BeadStage stage;
    std::string display;
    std::string stage_name;
  };
  const Case cases[] = {
      {BeadStage::Render, "Render", "render"},
      {BeadStage::Validate, "Validate", "validate"},
      {BeadStage::ResolveActiveRegistry, "ResolveActiveRegistry", "resolve_active_registry"},
      {BeadStage::PreviewPour, "PreviewPour", "preview_pour"},
      {BeadStage::Pour, "Pour", "pour"},
  };
  for (const auto& c : cases) {
    const auto error = BeadComposeError::process_output_limit(c.stage, 123);
    EXPECT_EQ(error.message(),
              "Beads " + c.display + " output exceeded the 123-byte capture limit");
    EXPECT_EQ(error.stage_name(), c.stage_name);
    EXPECT_EQ(error.stage(), c.stage);
    EXPECT_EQ(error.limit(), 123u);
  }
}

TEST(BeadComposeError, SchemaIsQuotedExactlyAsSupplied) {
  EXPECT_EQ(BeadComposeError::unknown_schema("korvel/beads/v1 ").message(),
            "unsupported Beads composition schema `korvel/beads/v1 `");
  EXPECT_EQ(BeadComposeError::unknown_schema("KORVEL/BEADS/V1").message(),
            "unsupported Beads composition schema `KORVEL/BEADS/V1`");
}

TEST(BeadComposeError, QuotedValueEscapes) {
  struct Case {
    std::string value;
    std::string quoted;
  };
  const Case cases[] = {
      {"", R"("")"},
      {std::string("a\0b", 3), R"("a\0b")"},  // five characters between the quotes
      {"tab\there", R"("tab\there")"},
      {"cr\rlf\n", R"("cr\rlf\n")"},
      {R"(back\slash "quoted")", R"("back\\slash \"quoted\"")"},
      {"single ' stays", R"("single ' stays")"},
      {"bell\x07", R"("bell\u{7}")"},
      {"esc\x1B"
       "del\x7F",
       R"("esc\u{1b}del\u{7f}")"},
      {"c1\xC2\x85", R"("c1\u{85}")"},      // U+0085 next line
      {"nbsp\xC2\xA0", R"("nbsp\u{a0}")"},  // U+00A0
      {"zw\xE2\x80\x8B"
       "j",
       R"("zw\u{200b}j")"},                     // U+200B zero width space
      {"ls\xE2\x80\xA8", R"("ls\u{2028}")"},    // U+2028 line separator
      {"bom\xEF\xBB\xBF", R"("bom\u{feff}")"},  // U+FEFF
      {"pua\xEE\x80\x80", R"("pua\u{e000}")"},  // private use
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"x=1 y", R"("x=1 y")"},
      // Bytes that are not UTF-8 show as U+FFFD.
      {"bad\xFF", "\"bad\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) EXPECT_EQ(quote_value(c.value), c.quoted) << c.quoted;

  const auto error = BeadComposeError::variable_value_invalid("name", std::string("a\0b", 3));
  EXPECT_EQ(error.message(), "invalid Beads variable value for `name`: \"a\\0b\"");
  EXPECT_EQ(error.text(), "name");
  EXPECT_EQ(error.value(), std::string("a\0b", 3));
}

TEST(BeadComposeError, PathsShowLossilyButKeepTheirBytes) {
  const std::string raw = "/w/caf\xE9/\xC3\xA9/x\xFF\xFE.formula.toml";
  const std::string shown = "/w/caf\xEF\xBF\xBD/\xC3\xA9/x\xEF\xBF\xBD\xEF\xBF\xBD.formula.toml";
  const std::vector<BeadComposeError> errors = {
      BeadComposeError::formula_not_file(raw),
      BeadComposeError::formula_extension_unsupported(raw),
      BeadComposeError::template_path_invalid(raw),
      BeadComposeError::template_outside_working_dir(raw),
      BeadComposeError::output_outside_working_dir(raw),
      BeadComposeError::output_path_symlink(raw),
      BeadComposeError::path_not_utf8(raw),
      BeadComposeError::bd_unavailable(raw),
      BeadComposeError::process_argument_invalid(raw, "m"),
      BeadComposeError::formula_outside_active_registry(raw),
  };
  for (const auto& error : errors) {
    EXPECT_EQ(error.path().native(), raw) << error.code();
    const std::string message = error.message();
    EXPECT_NE(message.find(shown), std::string::npos) << message;
    EXPECT_EQ(message.find(raw), std::string::npos) << message;
  }
}

TEST(BeadComposeError, CopiesCompareByVariantAndData) {
  const auto a = BeadComposeError::variable_value_invalid("k", "v");
  const BeadComposeError copy = a;
  EXPECT_EQ(copy, a);
  EXPECT_NE(BeadComposeError::variable_value_invalid("k", "w"), a);
  EXPECT_NE(BeadComposeError::variable_key_invalid("k"),
            BeadComposeError::variable_key_duplicate("k"));
  EXPECT_NE(BeadComposeError::bd_unavailable("bd"), BeadComposeError::bd_unavailable("/bin/bd"));
  EXPECT_NE(BeadComposeError::process_output_limit(BeadStage::Pour, 1),
            BeadComposeError::process_output_limit(BeadStage::PreviewPour, 1));
}

}  // namespace
