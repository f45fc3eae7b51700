// template_bench — times korvel::Renderer on the benchmark templates the way formula rendering
// uses it: a fresh renderer, compile and render on every call. Driven by bench/templates/run,
// which times Jinja2 on the same templates in the same run and prints the ratios.
//
//   template_bench MANIFEST.json [SECONDS]
// MANIFEST.json is an array of {"name", "template" (path), "template_name", "context" (path),
// "mode" ("legacy-json" | "standard" | "toml"), optional "output_path" (where the rendered text is
// written once, so that the caller can compare it with Jinja2's)}. Writes one JSON object per line:
// {"name", "ns_per_call", "render_ns_per_call", "output_bytes"} or
// {"name", "error"}. render_ns_per_call renders a template compiled once, in an environment set up
// as the renderer sets up its own; it shows how the time splits between compiling and rendering.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "korvel/engine/environment.hpp"
#include "korvel/json/reader.hpp"
#include "korvel/json/value.hpp"
#include "korvel/json/writer.hpp"
#include "korvel/renderer.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Each case is timed in this many batches; the fastest batch counts, which discounts
// interference from other work on the machine.
constexpr int kBatches = 5;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::optional<std::string> read_file(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::string text;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  if (std::ferror(file.get())) return std::nullopt;
  return text;
}

std::optional<korvel::EscapeMode> parse_mode(std::string_view text) {
  if (text == "legacy-json") return korvel::EscapeMode::LegacyJson;
  if (text == "standard") return korvel::EscapeMode::Standard;
  if (text == "toml") return korvel::EscapeMode::Toml;
  return std::nullopt;
}

void emit(korvel::json::Object fields) {
  std::string line = korvel::json::write(korvel::json::Value(std::move(fields)));
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void emit_error(const std::string& name, std::string message) {
  korvel::json::Object fields;
  fields.emplace("name", korvel::json::Value(name));
  fields.emplace("error", korvel::json::Value(std::move(message)));
  emit(std::move(fields));
}

// One call as formula rendering makes it. Returns the output size, or nullopt with `error` set;
// the text goes to `keep` when given.
std::optional<std::size_t> render_once(korvel::EscapeMode mode, std::string_view name,
                                       std::string_view source, const korvel::json::Object& context,
                                       std::string& error, std::string* keep = nullptr) {
  auto renderer = korvel::Renderer::with_delimiters_and_escape_mode("{{{", "}}}", mode);
  if (!renderer) {
    error = std::string(renderer.error().message());
    return std::nullopt;
  }
  auto text = renderer->render_named(name, source, context);
  if (!text) {
    error = std::string(text.error().message());
    return std::nullopt;
  }
  if (keep) *keep = *text;
  return text->size();
}

// The fastest per-call time of `call` over kBatches batches that each last about
// `seconds_per_batch`.
template <class Call>
double best_ns_per_call(Call&& call, double seconds_per_batch) {
  std::uint64_t iterations = 1;
  for (;;) {
    auto start = Clock::now();
    for (std::uint64_t i = 0; i < iterations; ++i) call();
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (elapsed >= seconds_per_batch / 4 || iterations >= (1u << 30)) {
      iterations = std::max<std::uint64_t>(
          1, static_cast<std::uint64_t>(iterations * seconds_per_batch / std::max(elapsed, 1e-9)));
      break;
    }
    iterations *= 4;
  }
  double best = std::numeric_limits<double>::infinity();
  for (int batch = 0; batch < kBatches; ++batch) {
    auto start = Clock::now();
    for (std::uint64_t i = 0; i < iterations; ++i) call();
    std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
    best = std::min(best, elapsed.count() / static_cast<double>(iterations));
  }
  return best;
}

void run_case(const korvel::json::Object& entry, double seconds_per_batch) {
  auto text_of = [&](std::string_view key) -> std::string {
    auto it = entry.find(key);
    return it != entry.end() && it->second.is_string() ? it->second.as_string() : std::string();
  };
  const std::string name = text_of("name");
  auto source = read_file(text_of("template"));
  auto context_text = read_file(text_of("context"));
  auto mode = parse_mode(text_of("mode"));
  if (!source || !context_text || !mode) return emit_error(name, "unreadable case");
  auto context = korvel::json::parse(*context_text);
  if (!context || !context->is_object()) return emit_error(name, "context is not a JSON object");
  const std::string template_name = text_of("template_name");

  std::string error;
  std::string first_output;
  auto size =
      render_once(*mode, template_name, *source, context->as_object(), error, &first_output);
  if (!size) return emit_error(name, error);
  if (auto path = text_of("output_path"); !path.empty()) {
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(path.c_str(), "wb"));
    if (!out || std::fwrite(first_output.data(), 1, first_output.size(), out.get()) !=
                    first_output.size()) {
      return emit_error(name, "cannot write " + path);
    }
  }

  const auto& variables = context->as_object();
  double per_call = best_ns_per_call(
      [&] { render_once(*mode, template_name, *source, variables, error); }, seconds_per_batch);

  korvel::json::Object fields;
  fields.emplace("name", korvel::json::Value(name));
  fields.emplace("ns_per_call", korvel::json::Value(per_call));
  fields.emplace("output_bytes", korvel::json::Value(static_cast<std::uint64_t>(*size)));

  korvel::engine::Environment env;
  korvel::configure_environment(env, *mode);
  korvel::engine::SyntaxConfig syntax;
  syntax.variable_start = "{{{";
  syntax.variable_end = "}}}";
  auto syntax_set = env.set_syntax(syntax);
  auto compiled = env.template_from_named_str(template_name, *source);
  if (syntax_set && compiled && compiled->render(variables)) {
    double render_only =
        best_ns_per_call([&] { (void)compiled->render(variables); }, seconds_per_batch);
    fields.emplace("render_ns_per_call", korvel::json::Value(render_only));
  }
  emit(std::move(fields));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: template_bench MANIFEST.json [SECONDS_PER_BATCH]\n", stderr);
    return 2;
  }
  double seconds = argc == 3 ? std::strtod(argv[2], nullptr) : 0.2;
  if (!(seconds > 0)) seconds = 0.2;
  auto manifest_text = read_file(argv[1]);
  if (!manifest_text) {
    std::fprintf(stderr, "template_bench: cannot read %s\n", argv[1]);
    return 2;
  }
  auto manifest = korvel::json::parse(*manifest_text);
  if (!manifest || !manifest->is_array()) {
    std::fputs("template_bench: the manifest is not a JSON array\n", stderr);
    return 2;
  }
  for (const auto& entry : manifest->as_array()) {
    if (entry.is_object()) run_case(entry.as_object(), seconds);
  }
  return 0;
}
