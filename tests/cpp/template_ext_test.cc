#include "korvel/template_ext.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using korvel::strip_all_template_suffixes;

struct StripCase {
  std::string_view name;
  std::string_view stripped;
};

TEST(StripAllTemplateSuffixes, RemovesEverySuffixInAnyCaseAndNothingElse) {
  const StripCase cases[] = {
      {"a.json.j2", "a.json"},
      {"a.toml.J2.jinja", "a.toml"},
      {"x.JSON.J2", "x.JSON"},
      {"x.json.jinja", "x.json"},
      {"x.json.jinja2", "x.json"},
      {"x.json.JiNjA2", "x.json"},
      {"x.json.j2.j2", "x.json"},
      {"x.jinja.jinja2.j2", "x"},
      {".j2", ""},
      {".jinja2.j2", ""},
      {"", ""},
      {"a.j2x", "a.j2x"},
      {"a.jinja3", "a.jinja3"},
      {"a.j2.txt", "a.j2.txt"},  // only suffixes at the very end count
      {"aj2", "aj2"},            // the dot is part of the suffix
      {"j2", "j2"},
      {"/w/flow.formula.toml.j2", "/w/flow.formula.toml"},
  };
  for (const auto& c : cases) {
    const std::string_view out = strip_all_template_suffixes(c.name);
    EXPECT_EQ(out, c.stripped) << c.name;
    // A leading part of the argument, not a copy.
    EXPECT_EQ(out.data(), c.name.data()) << c.name;
  }
}

}  // namespace
