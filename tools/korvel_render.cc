// korvel_render — renders a template with korvel::Renderer from the command line, as formula
// rendering does ("{{{" "}}}", escaping chosen from the template's name), for template authors
// trying a template and for the test harness.
//
//   korvel_render [--mode legacy-json|standard|toml] [--name NAME] TEMPLATE [CONTEXT.json]
//       TEMPLATE is a file, or "-" for standard input; CONTEXT.json holds a JSON object (default
//       {}). The name (the path unless --name says otherwise) chooses the escaping; without
//       --mode it also chooses the mode as formula rendering does (.formula.json.j2 legacy-json,
//       .formula.toml.j2 toml, else standard). The result goes to standard output as it is. A
//       render failure prints the renderer's message to standard error and exits 1; a usage or
//       input problem exits 2.
//   korvel_render --batch [--mode ...]
//       Reads one JSON object per line on standard input, {"name": ..., "template": ...,
//       "context": {...}, "mode": ...} (context and mode optional), and writes one JSON object per
//       line in the same order: {"output": text} or {"error": message}, or {"usage": message} for
//       a line that is not a usable request. Hundreds of cases then cost one process.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <expected>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvel/json/reader.hpp"
#include "korvel/json/value.hpp"
#include "korvel/json/writer.hpp"
#include "korvel/renderer.hpp"

namespace {

constexpr int kRenderFailed = 1;
constexpr int kUsage = 2;

constexpr std::string_view kUsageText =
    "usage: korvel_render [--mode legacy-json|standard|toml] [--name NAME] TEMPLATE "
    "[CONTEXT.json]\n"
    "       korvel_render --batch [--mode legacy-json|standard|toml] < requests.jsonl\n";

std::optional<korvel::EscapeMode> parse_mode(std::string_view text) {
  if (text == "legacy-json") return korvel::EscapeMode::LegacyJson;
  if (text == "standard") return korvel::EscapeMode::Standard;
  if (text == "toml") return korvel::EscapeMode::Toml;
  return std::nullopt;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file (or standard input for "-"). Plain stdio: a directory or an unreadable file is
// an error value here, where a stream iterator would throw.
// The mode formula rendering picks for a template path: a case-sensitive test of its end.
korvel::EscapeMode mode_for_name(std::string_view name) {
  if (name.ends_with(".formula.json.j2")) return korvel::EscapeMode::LegacyJson;
  if (name.ends_with(".formula.toml.j2")) return korvel::EscapeMode::Toml;
  return korvel::EscapeMode::Standard;
}

std::expected<std::string, std::string> read_input(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> owned;
  std::FILE* file = stdin;
  if (path != "-") {
    owned.reset(std::fopen(path.c_str(), "rb"));
    if (!owned) return std::unexpected("cannot open " + path + ": " + std::strerror(errno));
    file = owned.get();
  }
  std::string text;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  if (std::ferror(file))
    return std::unexpected("cannot read " + path + ": " + std::strerror(errno));
  return text;
}

std::expected<korvel::json::Object, std::string> parse_context(std::string_view text,
                                                               std::string_view what) {
  auto value = korvel::json::parse(text);
  if (!value) return std::unexpected(std::string(what) + ": " + value.error().message());
  if (!value->is_object()) return std::unexpected(std::string(what) + ": not a JSON object");
  return std::move(value->as_object());
}

// Renders one template the way formula rendering does: a fresh renderer for every rendering.
std::expected<std::string, std::string> render(korvel::EscapeMode mode, std::string_view name,
                                               std::string_view source,
                                               const korvel::json::Object& context) {
  auto renderer = korvel::Renderer::with_delimiters_and_escape_mode("{{{", "}}}", mode);
  if (!renderer) return std::unexpected(std::string(renderer.error().message()));
  auto text = renderer->render_named(name, source, context);
  if (!text) return std::unexpected(std::string(text.error().message()));
  return std::move(*text);
}

void write_answer(std::string_view key, std::string value) {
  korvel::json::Object answer;
  answer.emplace(std::string(key), korvel::json::Value(std::move(value)));
  std::string line = korvel::json::write(korvel::json::Value(std::move(answer)));
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
}

const korvel::json::Value* member(const korvel::json::Object& object, std::string_view key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &it->second;
}

int run_batch(std::optional<korvel::EscapeMode> default_mode) {
  static const korvel::json::Object kEmpty;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.empty()) continue;
    auto request = korvel::json::parse(line);
    if (!request || !request->is_object()) {
      write_answer("usage", request ? "request is not a JSON object" : request.error().message());
      continue;
    }
    const auto& fields = request->as_object();
    const auto* name = member(fields, "name");
    const auto* source = member(fields, "template");
    const auto* context = member(fields, "context");
    const auto* mode_text = member(fields, "mode");
    if (!name || !name->is_string() || !source || !source->is_string() ||
        (context && !context->is_object())) {
      write_answer("usage", "a request needs a string name and template and an object context");
      continue;
    }
    korvel::EscapeMode mode = default_mode.value_or(mode_for_name(name->as_string()));
    if (mode_text) {
      auto parsed = mode_text->is_string() ? parse_mode(mode_text->as_string()) : std::nullopt;
      if (!parsed) {
        write_answer("usage", "unknown mode");
        continue;
      }
      mode = *parsed;
    }
    auto text = render(mode, name->as_string(), source->as_string(),
                       context ? context->as_object() : kEmpty);
    if (text) {
      write_answer("output", std::move(*text));
    } else {
      write_answer("error", std::move(text.error()));
    }
    std::fflush(stdout);
  }
  return 0;
}

int usage(std::string_view problem) {
  if (!problem.empty()) std::cerr << "korvel_render: " << problem << "\n";
  std::cerr << kUsageText;
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<korvel::EscapeMode> mode;
  std::optional<std::string> name;
  bool batch = false;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--mode" || arg == "--name") {
      if (i + 1 >= argc) return usage(std::string(arg) + " needs a value");
      std::string_view value = argv[++i];
      if (arg == "--name") {
        name = std::string(value);
      } else if (auto parsed = parse_mode(value)) {
        mode = *parsed;
      } else {
        return usage("unknown mode " + std::string(value));
      }
    } else if (arg == "--batch") {
      batch = true;
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsageText;
      return 0;
    } else if (arg.size() > 1 && arg.starts_with("-")) {
      return usage("unknown option " + std::string(arg));
    } else {
      positional.emplace_back(arg);
    }
  }
  if (batch) {
    if (!positional.empty() || name) return usage("--batch takes its requests on standard input");
    return run_batch(mode);
  }
  if (positional.empty() || positional.size() > 2) return usage("");

  auto source = read_input(positional[0]);
  if (!source) return usage(source.error());
  korvel::json::Object context;
  if (positional.size() == 2) {
    auto text = read_input(positional[1]);
    if (!text) return usage(text.error());
    auto parsed = parse_context(*text, positional[1]);
    if (!parsed) return usage(parsed.error());
    context = std::move(*parsed);
  }
  // The template's own path names it unless --name says otherwise; the name chooses the escaping.
  std::string template_name = name.value_or(positional[0] == "-" ? "stdin" : positional[0]);
  auto text = render(mode.value_or(mode_for_name(template_name)), template_name, *source, context);
  if (!text) {
    std::cerr << text.error() << "\n";
    return kRenderFailed;
  }
  std::fwrite(text->data(), 1, text->size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : kRenderFailed;
}
