// The Python-side records behind the module's classes (PyBeadComposeRequest behind
// BeadComposeRequest, and so on). They hold plain owned values only and never a Python object, so
// no class of the module needs to take part in garbage collection for them. Internal to the
// binding.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "korvel/json/value.hpp"
#include "korvel_beads/contract/contract.hpp"

namespace korvel_beads::native {

struct PyBeadOutcome {
  std::string kind;  // "succeeded", "refused" or "failed"
  std::optional<std::string> code;
};

struct PyBeadStageOutcome {
  std::string kind;  // "succeeded", "skipped" or "failed"
  std::optional<std::string> code;
};

struct PyBeadStageReceipt {
  std::string stage;
  std::vector<std::string> argv;
  std::string stdout_excerpt;
  std::string stderr_excerpt;
  PyBeadStageOutcome outcome;
  std::optional<std::int32_t> exit_status;
  std::uint64_t elapsed_ms = 0;
};

struct PyBeadComposeReceipt {
  std::string schema;
  std::string operation;
  std::string rendered_formula;
  std::vector<PyBeadStageReceipt> stages;
  PyBeadOutcome outcome;
};

struct PyBeadComposeError {
  std::string code;
  std::string message;
  std::optional<std::string> stage;
};

// Paths are held as the UTF-8 text the caller gave; the pipeline gets their bytes.
struct PyBeadComposeRequest {
  std::string schema;
  std::string working_directory;
  std::string template_path;
  std::string rendered_formula;
  std::optional<std::string> formula_name;
  std::optional<std::string> bd_executable;
  korvel::json::Object compose_variables;
  std::map<std::string, std::string> bead_variables;
  bool pour_authorization = false;  // present means CreatePersistentBeads
  BeadOperation operation = BeadOperation::Render;
};

}  // namespace korvel_beads::native
