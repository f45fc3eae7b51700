// Tests for the rendered formula path and the active registry on real directories:
// normalize_output, the reading of "bd where --json" output, and the match of the rendered formula
// against the registry's "formulas" directory, with symbolic links.
#include "korvel_beads/beads/active_registry.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "korvel_beads/beads/formula_path.hpp"

namespace {

namespace fs = std::filesystem;
using namespace korvel_beads;

// A fresh directory under the system's temporary directory, canonical (macOS puts /tmp behind a
// link), removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "korvel-beads-test-XXXXXX").native();
    if (mkdtemp(pattern.data()) != nullptr) root_ = fs::canonical(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& root() const { return root_; }
  fs::path dir(const std::string& relative) const {
    fs::create_directories(root_ / relative);
    return root_ / relative;
  }
  fs::path file(const std::string& relative) const {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << "x";
    return root_ / relative;
  }
  fs::path link(const std::string& relative, const fs::path& target) const {
    fs::create_directories((root_ / relative).parent_path());
    fs::create_symlink(target, root_ / relative);
    return root_ / relative;
  }

 private:
  fs::path root_;
};

class ActiveRegistry : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(tmp_.root().empty()); }
  TempDir tmp_;
};

TEST_F(ActiveRegistry, NormalizeOutputResolvesTheParentOnly) {
  const fs::path w = tmp_.dir("w");
  const fs::path v = tmp_.dir("v");
  tmp_.dir("w/sub");
  tmp_.file("w/plain");
  tmp_.link("w/link", v);
  tmp_.link("w/sub/final.formula.toml", tmp_.file("v/real.formula.toml"));
  struct Case {
    fs::path in;
    fs::path out;
  };
  const Case cases[] = {
      {w / "x.formula.toml", w / "x.formula.toml"},
      // A linked parent resolves to its target.
      {w / "link/x.formula.toml", v / "x.formula.toml"},
      // Dot-dot and dot inside the parent resolve; doubled and trailing separators do not matter.
      {w / "sub/../x.formula.toml", w / "x.formula.toml"},
      {w.native() + "//sub/./x.formula.toml", w / "sub/x.formula.toml"},
      {w.native() + "/sub/x.formula.toml/", w / "sub/x.formula.toml"},
      {w / "sub/.", w / "sub"},
      // The final component stays as named, even when it is a link.
      {w / "sub/final.formula.toml", w / "sub/final.formula.toml"},
      // The file need not exist, nor have the formula suffix (that is another rule).
      {w / "new.txt", w / "new.txt"},
      // A parent that exists as a file resolves too; the destination check refuses it later.
      {w / "plain/x.formula.toml", w / "plain/x.formula.toml"},
  };
  for (const auto& c : cases) {
    const auto result = normalize_output(c.in);
    ASSERT_TRUE(result) << c.in << ": " << result.error().message();
    EXPECT_EQ(*result, c.out) << c.in;
  }
}

TEST_F(ActiveRegistry, NormalizeOutputRefusesWhatHasNoResolvableParentOrName) {
  const fs::path w = tmp_.dir("w");
  tmp_.dir("w/sub");
  const fs::path cases[] = {
      "",
      "/",
      "x.formula.toml",  // a bare file name: its parent is the empty path
      w / "missing/x.formula.toml",
      w / "sub/..",
      w / "..",
      ".",
      // Cut at the NUL, the operating system would resolve w/sub and write there.
      fs::path(w.native() + "/sub" + std::string(1, '\0') + "evil/x.formula.toml"),
  };
  for (const auto& path : cases) {
    const auto result = normalize_output(path);
    ASSERT_FALSE(result) << path << " -> " << *result;
    EXPECT_EQ(result.error().code(), "BEADS_TEMPLATE_PATH_INVALID");
    EXPECT_EQ(result.error().path(), path);  // as supplied
  }
}

TEST(ActiveBeadsDir, ReadsThePathMemberOfTheOneDocument) {
  struct Case {
    std::string output;
    std::optional<fs::path> dir;
  };
  const Case cases[] = {
      {R"({"path":"/home/u/.beads"})", fs::path("/home/u/.beads")},
      {"\n\n  {\"name\": \"main\", \"path\": \"/r/.beads\", \"n\": [1, {}]}\n\n",
       fs::path("/r/.beads")},
      {"\r\n\t{\"path\":\"rel/dir\"}\r\n", fs::path("rel/dir")},
      {R"({"path":"\/r\/caf\u00e9"})", fs::path("/r/caf\xC3\xA9")},
      {R"({"path":""})", fs::path("")},
      // A repeated "path": the last one counts, whatever the earlier ones were.
      {R"({"path":"/first","path":"/second"})", fs::path("/second")},
      {R"({"path":7,"path":"/second"})", fs::path("/second")},
      {R"({"path":"/first","path":7})", std::nullopt},
      // Not exactly one JSON document.
      {"", std::nullopt},
      {"  \n", std::nullopt},
      {"/r/.beads\n", std::nullopt},
      {R"({"path":"/r/.beads"} {"path":"/other"})", std::nullopt},
      {"{\"path\":\"/r/.beads\"}\nwarning: stale cache\n", std::nullopt},
      {R"({"path":"/r/.beads",})", std::nullopt},
      // Not an object with a string "path".
      {R"(["/r/.beads"])", std::nullopt},
      {R"("/r/.beads")", std::nullopt},
      {R"({"Path":"/r/.beads"})", std::nullopt},
      {R"({"dir":{"path":"/r/.beads"}})", std::nullopt},
      {R"({"path":1})", std::nullopt},
      {R"({"path":null})", std::nullopt},
      {R"({"path":true})", std::nullopt},
      {R"({"path":["/r/.beads"]})", std::nullopt},
      {R"({"path":{"dir":"/r/.beads"}})", std::nullopt},
      // A NUL would cut the path short at the operating system.
      {R"({"path":"/r/.beads\u0000/elsewhere"})", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_active_beads_dir(c.output), c.dir) << c.output;
}

struct RegistryCase {
  std::string name;
  fs::path rendered;
  std::string code;  // empty: the rendered formula is the registry's formula
};

void expect_registry(const RegistryCase& c, const fs::path& beads_dir) {
  const auto result = validate_active_registry_path(c.name, c.rendered, beads_dir);
  if (c.code.empty()) {
    EXPECT_TRUE(result) << c.name << " " << c.rendered << ": " << result.error().message();
    return;
  }
  ASSERT_FALSE(result) << c.name << " " << c.rendered;
  EXPECT_EQ(result.error().code(), c.code) << c.name << " " << c.rendered;
  if (c.code == "BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY") {
    EXPECT_EQ(result.error().path(), c.rendered);
  } else {
    EXPECT_EQ(result.error().text(), c.name);
  }
}

TEST_F(ActiveRegistry, RenderedFormulaMustBeTheRegistrysFormula) {
  const fs::path beads = tmp_.dir("beads");
  const fs::path formulas = tmp_.dir("beads/formulas");
  tmp_.file("beads/formulas/deploy.formula.toml");
  tmp_.file("beads/formulas/team/build.formula.json");
  const std::string outside = "BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY";
  const RegistryCase cases[] = {
      {"deploy", formulas / "deploy.formula.toml", ""},
      // Component-wise: doubled and trailing separators make no difference.
      {"deploy", formulas.native() + "//deploy.formula.toml", ""},
      {"deploy", formulas.native() + "/deploy.formula.toml/", ""},
      // The JSON form of the name matches as well, existing or not.
      {"deploy", formulas / "deploy.formula.json", ""},
      {"fresh", formulas / "fresh.formula.toml", ""},
      // A separator in the name descends into a subdirectory.
      {"team/build", formulas / "team/build.formula.json", ""},
      // Another formula's name, another directory, another suffix.
      {"other", formulas / "deploy.formula.toml", outside},
      {"deploy", beads / "deploy.formula.toml", outside},
      {"deploy", tmp_.root() / "w/deploy.formula.toml", outside},
      {"deploy", formulas / "deploy.formula.yaml", outside},
      {"Deploy", formulas / "deploy.formula.toml", outside},
      // No dot-dot is collapsed.
      {"deploy", formulas / "x/../deploy.formula.toml", outside},
      {"../formulas/deploy", formulas / "deploy.formula.toml", outside},
  };
  for (const auto& c : cases) expect_registry(c, beads);
}

TEST_F(ActiveRegistry, BothFormsOfANameAreAmbiguous) {
  const fs::path beads = tmp_.dir("beads");
  const fs::path formulas = tmp_.dir("beads/formulas");
  tmp_.file("beads/formulas/deploy.formula.toml");
  tmp_.file("beads/formulas/deploy.formula.json");
  // Links to regular files count as regular files.
  tmp_.file("elsewhere/a.formula.toml");
  tmp_.file("elsewhere/a.formula.json");
  tmp_.link("beads/formulas/linked.formula.toml", tmp_.root() / "elsewhere/a.formula.toml");
  tmp_.link("beads/formulas/linked.formula.json", tmp_.root() / "elsewhere/a.formula.json");
  // A directory in place of one form is not a second formula.
  tmp_.file("beads/formulas/half.formula.toml");
  tmp_.dir("beads/formulas/half.formula.json");
  const std::string ambiguous = "BEADS_FORMULA_REGISTRY_AMBIGUOUS";
  const RegistryCase cases[] = {
      {"deploy", formulas / "deploy.formula.toml", ambiguous},
      {"deploy", formulas / "deploy.formula.json", ambiguous},
      {"deploy", tmp_.root() / "w/deploy.formula.toml", ambiguous},
      {"linked", formulas / "linked.formula.toml", ambiguous},
      {"half", formulas / "half.formula.toml", ""},
  };
  for (const auto& c : cases) expect_registry(c, beads);
}

TEST_F(ActiveRegistry, LinkedFormulasDirectoryNeverMatches) {
  // The rendered path carries a canonical parent, the candidates the literal "formulas".
  const fs::path beads = tmp_.dir("beads");
  const fs::path real = tmp_.dir("real-formulas");
  tmp_.link("beads/formulas", real);
  tmp_.file("real-formulas/deploy.formula.toml");
  expect_registry({"deploy", real / "deploy.formula.toml", "BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY"},
                  beads);
  // Through the link it does match, but normalize_output never produces that path.
  expect_registry({"deploy", beads / "formulas/deploy.formula.toml", ""}, beads);
}

TEST_F(ActiveRegistry, AbsoluteNameCannotLeaveTheRegistry) {
  // Joined naively, an absolute name replaces the registry directory, and any formula would
  // match itself.
  const fs::path beads = tmp_.dir("beads");
  tmp_.dir("beads/formulas");
  const fs::path elsewhere = tmp_.file("elsewhere/x.formula.toml");
  const std::string name = (tmp_.root() / "elsewhere/x").native();
  expect_registry({name, elsewhere, "BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY"}, beads);
}

TEST_F(ActiveRegistry, NameWithNulIsNoRegistryFormula) {
  // Cut at the NUL, both candidates would name the file "deploy" and look ambiguous or present.
  const fs::path beads = tmp_.dir("beads");
  tmp_.file("beads/formulas/deploy");
  const std::string name = std::string("deploy") + '\0' + "x";
  const fs::path rendered = beads.native() + "/formulas/" + name + ".formula.toml";
  expect_registry({name, rendered, "BEADS_FORMULA_OUTSIDE_ACTIVE_REGISTRY"}, beads);
}

}  // namespace
