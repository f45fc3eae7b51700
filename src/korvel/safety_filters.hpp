// korvel's six safety filters, registered by the renderer in this order: "cdata_escape",
// "turtle_escape", "md_table_safe", "xml_char_safe", "frontmatter_safe", "yaml_safe". Each makes
// a text safe for one place with its own quoting rules; the text transforms are in `detail`.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "korvel/engine/error.hpp"
#include "korvel/engine/function.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/engine/value.hpp"

namespace korvel {

// Engine filters (engine::FilterFn). Each takes exactly one argument, a string (or a byte string
// that is valid UTF-8): any other value fails with "invalid operation: value is not a string", a
// further argument with "too many arguments", none at all with "missing argument".
engine::Result<engine::Value> cdata_escape_filter(engine::State&, std::span<const engine::Value>,
                                                  const engine::Kwargs&);  // safe string
engine::Result<engine::Value> turtle_escape_filter(engine::State&, std::span<const engine::Value>,
                                                   const engine::Kwargs&);
engine::Result<engine::Value> md_table_safe_filter(engine::State&, std::span<const engine::Value>,
                                                   const engine::Kwargs&);
engine::Result<engine::Value> xml_char_safe_filter(engine::State&, std::span<const engine::Value>,
                                                   const engine::Kwargs&);  // safe string
engine::Result<engine::Value> frontmatter_safe_filter(engine::State&,
                                                      std::span<const engine::Value>,
                                                      const engine::Kwargs&);  // safe string
engine::Result<engine::Value> yaml_safe_filter(engine::State&, std::span<const engine::Value>,
                                               const engine::Kwargs&);

namespace detail {

// a]]>b → a]]]]><![CDATA[>b. Characters that XML cannot carry become U+FFFD, and a carriage
// return leaves the section for a character reference ("]]>&#xd;<![CDATA["), since an XML parser
// would read a raw one as a line feed.
std::string cdata_escape_text(std::string_view text);

// a"b<LF> → a\"b\n: backslash, quotation mark, line feed, carriage return and tab escaped.
std::string turtle_escape_text(std::string_view text);

// a|b<LF>c → a\|b c: one table cell on one line.
std::string md_table_safe_text(std::string_view text);

// A line whose only non-blank content is "---" or "..." gets that marker backslash-escaped
// ("\-\-\-", "\.\.\."), so inserted text cannot end a YAML front matter block.
std::string frontmatter_safe_text(std::string_view text);

// a"b → "a\"b": a complete YAML double-quoted scalar. Besides the turtle_escape table, every
// character that a YAML reader would refuse or fold inside double quotes (C0 and C1 controls,
// U+007F, U+2028, U+2029, U+FFFE, U+FFFF) is written as \u and four hexadecimal digits.
std::string yaml_safe_text(std::string_view text);

}  // namespace detail
}  // namespace korvel
