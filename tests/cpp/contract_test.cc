// Tests for the contract records: text forms and display names, operation parsing, outcome kinds,
// the millisecond conversion, and what a default request and receipt hold.
#include "korvel_beads/contract/contract.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

namespace {

using namespace korvel_beads;
using namespace std::chrono_literals;

TEST(Contract, OperationTextFormsParseBack) {
  struct Case {
    BeadOperation operation;
    std::string text;
  };
  const Case cases[] = {
      {BeadOperation::Render, "render"},
      {BeadOperation::Validate, "validate"},
      {BeadOperation::PreviewPour, "preview_pour"},
      {BeadOperation::Pour, "pour"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_form(c.operation), c.text);
    EXPECT_EQ(parse_operation(c.text), c.operation) << c.text;
  }
  for (const std::string bad :
       {"", "Render", "render ", " render", "preview-pour", "POUR", "resolve_active_registry"}) {
    EXPECT_EQ(parse_operation(bad), std::nullopt) << bad;
  }
}

TEST(Contract, StageTextFormsAndDisplayNames) {
  struct Case {
    BeadStage stage;
    std::string text;
    std::string display;
  };
  const Case cases[] = {
      {BeadStage::Render, "render", "Render"},
      {BeadStage::Validate, "validate", "Validate"},
      {BeadStage::ResolveActiveRegistry, "resolve_active_registry", "ResolveActiveRegistry"},
      {BeadStage::PreviewPour, "preview_pour", "PreviewPour"},
      {BeadStage::Pour, "pour", "Pour"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_form(c.stage), c.text);
    EXPECT_EQ(display_name(c.stage), c.display);
  }
  EXPECT_EQ(text_form(PourAuthorization::CreatePersistentBeads), "CreatePersistentBeads");
  // The pipeline runs the registry stages for "preview_pour or any later operation".
  EXPECT_LT(BeadOperation::Validate, BeadOperation::PreviewPour);
  EXPECT_LT(BeadOperation::PreviewPour, BeadOperation::Pour);
}

TEST(Contract, OutcomeKindsAndCodes) {
  EXPECT_EQ(BeadStageOutcome().kind(), BeadStageOutcome::Kind::Succeeded);
  EXPECT_EQ(BeadStageOutcome::succeeded().kind_text(), "succeeded");
  EXPECT_EQ(BeadStageOutcome::succeeded().code(), std::nullopt);
  EXPECT_EQ(BeadStageOutcome::skipped().kind_text(), "skipped");
  EXPECT_EQ(BeadStageOutcome::skipped().code(), std::nullopt);
  const auto stage_failed = BeadStageOutcome::failed("BEADS_COOK_FAILED");
  EXPECT_EQ(stage_failed.kind_text(), "failed");
  EXPECT_EQ(stage_failed.code(), "BEADS_COOK_FAILED");
  EXPECT_NE(stage_failed, BeadStageOutcome::failed("BEADS_WHERE_FAILED"));

  EXPECT_EQ(BeadOutcome().kind(), BeadOutcome::Kind::Succeeded);
  EXPECT_EQ(BeadOutcome::succeeded().kind_text(), "succeeded");
  EXPECT_EQ(BeadOutcome::succeeded().code(), std::nullopt);
  const auto refused = BeadOutcome::refused("BEADS_POUR_AUTH_REQUIRED");
  EXPECT_EQ(refused.kind_text(), "refused");
  EXPECT_EQ(refused.code(), "BEADS_POUR_AUTH_REQUIRED");
  const auto failed = BeadOutcome::failed("BEADS_POUR_FAILED");
  EXPECT_EQ(failed.kind_text(), "failed");
  EXPECT_EQ(failed.code(), "BEADS_POUR_FAILED");
  EXPECT_NE(refused, BeadOutcome::failed("BEADS_POUR_AUTH_REQUIRED"));
}

TEST(Contract, ElapsedMillisecondsTruncateAndSaturate) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  struct Case {
    std::chrono::nanoseconds elapsed;
    std::uint64_t ms;
  };
  const Case cases[] = {
      {0ns, 0},
      {999'999ns, 0},
      {1ms, 1},
      {1'999'900'000ns, 1999},  // 1.9999 s
      {2s + 5'000'001ns, 2005},
      {-5ms, 0},
      {std::chrono::nanoseconds::max(), 9'223'372'036'854u},
  };
  for (const auto& c : cases) EXPECT_EQ(elapsed_ms(c.elapsed), c.ms) << c.elapsed.count();

  struct PartsCase {
    std::uint64_t seconds;
    std::uint32_t subsec_nanos;
    std::uint64_t ms;
  };
  const PartsCase parts[] = {
      {1, 999'999'999, 1999},
      {18'446'744'073'709'551u, 614'999'999, kMax - 1},
      {18'446'744'073'709'551u, 615'000'000, kMax},
      {18'446'744'073'709'551u, 616'000'000, kMax},  // one millisecond over
      {18'446'744'073'709'552u, 0, kMax},
      {kMax, 999'999'999, kMax},
  };
  for (const auto& c : parts) {
    EXPECT_EQ(elapsed_ms(c.seconds, c.subsec_nanos), c.ms) << c.seconds << "s " << c.subsec_nanos;
  }
}

TEST(Contract, DefaultsNameTheSchemaAndRender) {
  const BeadComposeRequest request;
  EXPECT_EQ(request.schema, "korvel/beads/v1");
  EXPECT_EQ(request.schema, BEADS_SCHEMA_V1);
  EXPECT_EQ(request.operation, BeadOperation::Render);
  EXPECT_FALSE(request.formula_name || request.bd_executable || request.pour_authorization);
  EXPECT_TRUE(request.bead_variables.empty() && request.compose_variables.empty());

  const BeadComposeReceipt receipt;
  EXPECT_EQ(receipt.schema, BEADS_SCHEMA_V1);
  EXPECT_EQ(receipt.outcome, BeadOutcome::succeeded());
}

TEST(Contract, RequestCopiesKeepPathBytesAndValues) {
  BeadComposeRequest request;
  request.working_directory = std::filesystem::path("/w/\xFF\xFE");
  request.compose_variables = {{"n", korvel::json::Value(std::uint64_t{18446744073709551615u})},
                               {"list", korvel::json::Array{1.5, "x"}}};
  request.bead_variables = {{"b", "2"}, {"a", "x=1"}};
  request.pour_authorization = PourAuthorization::CreatePersistentBeads;
  const BeadComposeRequest copy = request;
  EXPECT_EQ(copy, request);
  EXPECT_EQ(copy.working_directory.native(), "/w/\xFF\xFE");
  EXPECT_EQ(copy.bead_variables.begin()->first, "a");

  BeadComposeRequest changed = request;
  changed.compose_variables["n"] = korvel::json::Value(std::int64_t{1});
  EXPECT_NE(changed, request);
}

}  // namespace
