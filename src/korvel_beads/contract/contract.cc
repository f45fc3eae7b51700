// Text forms of the contract enumerations and outcome kinds, and elapsed_ms.
#include "korvel_beads/contract/contract.hpp"

#include <limits>

namespace korvel_beads {

std::string_view text_form(BeadOperation operation) noexcept {
  switch (operation) {
    case BeadOperation::Render:
      return "render";
    case BeadOperation::Validate:
      return "validate";
    case BeadOperation::PreviewPour:
      return "preview_pour";
    case BeadOperation::Pour:
      return "pour";
  }
  return "";
}

std::optional<BeadOperation> parse_operation(std::string_view text) noexcept {
  for (auto op : {BeadOperation::Render, BeadOperation::Validate, BeadOperation::PreviewPour,
                  BeadOperation::Pour}) {
    if (text == text_form(op)) return op;
  }
  return std::nullopt;
}

std::string_view text_form(BeadStage stage) noexcept {
  switch (stage) {
    case BeadStage::Render:
      return "render";
    case BeadStage::Validate:
      return "validate";
    case BeadStage::ResolveActiveRegistry:
      return "resolve_active_registry";
    case BeadStage::PreviewPour:
      return "preview_pour";
    case BeadStage::Pour:
      return "pour";
  }
  return "";
}

std::string_view display_name(BeadStage stage) noexcept {
  switch (stage) {
    case BeadStage::Render:
      return "Render";
    case BeadStage::Validate:
      return "Validate";
    case BeadStage::ResolveActiveRegistry:
      return "ResolveActiveRegistry";
    case BeadStage::PreviewPour:
      return "PreviewPour";
    case BeadStage::Pour:
      return "Pour";
  }
  return "";
}

std::string_view text_form(PourAuthorization authorization) noexcept {
  switch (authorization) {
    case PourAuthorization::CreatePersistentBeads:
      return "CreatePersistentBeads";
  }
  return "";
}

std::string_view BeadStageOutcome::kind_text() const noexcept {
  switch (kind_) {
    case Kind::Succeeded:
      return "succeeded";
    case Kind::Skipped:
      return "skipped";
    case Kind::Failed:
      return "failed";
  }
  return "";
}

std::optional<std::string_view> BeadStageOutcome::code() const noexcept {
  if (kind_ == Kind::Failed) return std::string_view(code_);
  return std::nullopt;
}

std::string_view BeadOutcome::kind_text() const noexcept {
  switch (kind_) {
    case Kind::Succeeded:
      return "succeeded";
    case Kind::Refused:
      return "refused";
    case Kind::Failed:
      return "failed";
  }
  return "";
}

std::optional<std::string_view> BeadOutcome::code() const noexcept {
  if (kind_ != Kind::Succeeded) return std::string_view(code_);
  return std::nullopt;
}

std::uint64_t elapsed_ms(std::uint64_t seconds, std::uint32_t subsec_nanos) noexcept {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t sub_ms = subsec_nanos / 1'000'000u;
  if (seconds > (kMax - sub_ms) / 1000u) return kMax;
  return seconds * 1000u + sub_ms;
}

std::uint64_t elapsed_ms(std::chrono::nanoseconds elapsed) noexcept {
  if (elapsed.count() <= 0) return 0;
  const auto ns = static_cast<std::uint64_t>(elapsed.count());
  return elapsed_ms(ns / 1'000'000'000u, static_cast<std::uint32_t>(ns % 1'000'000'000u));
}

}  // namespace korvel_beads
