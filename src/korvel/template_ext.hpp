// korvel::strip_all_template_suffixes — the template file name without its template-language
// suffixes (".j2", ".jinja2", ".jinja", in any letter case and any number), so that the escape
// format can be chosen from the extension of the file the template produces.
#pragma once

#include <string_view>

namespace korvel {

// "a.json.j2" → "a.json"; "a.toml.J2.jinja" → "a.toml"; ".j2" → ""; "a.j2x" → "a.j2x".
// The result is always a leading part of `name`.
std::string_view strip_all_template_suffixes(std::string_view name) noexcept;

}  // namespace korvel
