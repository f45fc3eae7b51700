// strip_all_template_suffixes: removes template suffixes from the end of a name until none is left.
#include "korvel/template_ext.hpp"

#include <array>
#include <cstddef>

namespace korvel {
namespace {

char ascii_lower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ends_with_ignoring_ascii_case(std::string_view text, std::string_view lower_suffix) noexcept {
  if (text.size() < lower_suffix.size()) return false;
  const std::string_view tail = text.substr(text.size() - lower_suffix.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (ascii_lower(tail[i]) != lower_suffix[i]) return false;
  }
  return true;
}

// Tried in this order on every pass; the first that matches is removed.
constexpr std::array<std::string_view, 3> kTemplateSuffixes = {".j2", ".jinja2", ".jinja"};

}  // namespace

std::string_view strip_all_template_suffixes(std::string_view name) noexcept {
  for (;;) {
    bool removed = false;
    for (const std::string_view suffix : kTemplateSuffixes) {
      if (ends_with_ignoring_ascii_case(name, suffix)) {
        name.remove_suffix(suffix.size());
        removed = true;
        break;
      }
    }
    if (!removed) return name;
  }
}

}  // namespace korvel
