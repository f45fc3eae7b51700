// korvel::engine formatting helpers — find_kwarg, HTML escaping and default_format, the engine's
// own way of printing a value under each escape choice.
#include "korvel/engine/function.hpp"

#include "korvel/engine/output.hpp"
#include "korvel/engine/state.hpp"

namespace korvel::engine {

const Value* find_kwarg(const Kwargs& kwargs, std::string_view name) noexcept {
  for (const auto& [k, v] : kwargs) {
    if (k == name) return &v;
  }
  return nullptr;
}

void write_html_escaped(std::string_view text, std::string& out) {
  out.reserve(out.size() + text.size());
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char* rep;
    switch (text[i]) {
      case '&':
        rep = "&amp;";
        break;
      case '<':
        rep = "&lt;";
        break;
      case '>':
        rep = "&gt;";
        break;
      case '"':
        rep = "&#34;";
        break;
      case '\'':
        rep = "&#39;";
        break;
      default:
        continue;
    }
    out.append(text.data() + run, i - run);
    out += rep;
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

Result<void> default_format(Output& out, State& state, const Value& value) {
  if (value.is_safe()) return out.write(value.str());
  switch (state.escape().kind) {
    case EscapeChoice::Kind::Json: {
      std::string text;
      if (!value.write_json(text)) {
        return fail(ErrorKind::BadSerialization, "unable to format to JSON");
      }
      return out.write(text);
    }
    case EscapeChoice::Kind::Html: {
      std::string text;
      if (value.is_string()) {
        write_html_escaped(value.str(), text);
      } else {
        write_html_escaped(value.to_display(), text);
      }
      return out.write(text);
    }
    case EscapeChoice::Kind::None:
    case EscapeChoice::Kind::Custom:
      if (value.is_string()) return out.write(value.str());
      if (value.is_undefined()) return {};
      {
        std::string text;
        value.write_display(text);
        return out.write(text);
      }
  }
  return {};
}

}  // namespace korvel::engine
