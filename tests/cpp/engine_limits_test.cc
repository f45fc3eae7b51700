// Tests of the engine's safety bounds: whatever the template, rendering ends with an error of a
// fitting kind instead of exhausting the native stack or memory. The deep cases run on a thread
// with a small stack (2 MiB), so a missing bound shows up as a crash of this test.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>
#include <string_view>

#include "korvel/engine/environment.hpp"
#include "korvel/engine/object.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/engine/value.hpp"

namespace {

using korvel::engine::Environment;
using korvel::engine::ErrorKind;
using korvel::engine::Kwargs;
using korvel::engine::Result;
using korvel::engine::State;
using korvel::engine::Value;
namespace json = korvel::json;

// Runs `fn` on a thread whose stack is `stack_bytes` long.
void run_with_stack(std::size_t stack_bytes, std::function<void()> fn) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stack_bytes);
  pthread_t thread;
  auto trampoline = [](void* arg) -> void* {
    (*static_cast<std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, trampoline, &fn), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

Environment make_env() {
  Environment env;
  env.add_filter("f", [](State&, std::span<const Value> args, const Kwargs&) -> Result<Value> {
    return args[0];
  });
  env.add_function("namespace",
                   [](State&, std::span<const Value>, const Kwargs& kwargs) -> Result<Value> {
                     return korvel::engine::make_namespace({kwargs.begin(), kwargs.end()});
                   });
  return env;
}

std::string repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct LimitCase {
  const char* name;
  std::string source;
  ErrorKind kind;
};

TEST(EngineLimits, DeepNestingFailsCleanly) {
  const LimitCase cases[] = {
      {"parentheses", "{{ " + repeat("(", 100000) + "1" + repeat(")", 100000) + " }}",
       ErrorKind::SyntaxError},
      {"parentheses within the bracket bound",
       "{{ " + repeat("(", 500) + "1" + repeat(")", 500) + " }}", ErrorKind::SyntaxError},
      {"lists", "{{ " + repeat("[", 500) + repeat("]", 500) + " }}", ErrorKind::SyntaxError},
      {"dicts", "{{ " + repeat("{'a': ", 500) + "1" + repeat("}", 500) + " }}",
       ErrorKind::SyntaxError},
      {"if blocks", repeat("{% if true %}", 100000) + repeat("{% endif %}", 100000),
       ErrorKind::SyntaxError},
      {"for blocks", repeat("{% for x in [1] %}", 5000) + repeat("{% endfor %}", 5000),
       ErrorKind::SyntaxError},
      {"not chain", "{{ " + repeat("not ", 100000) + "1 }}", ErrorKind::SyntaxError},
      {"unary minus chain", "{{ " + repeat("- ", 100000) + "1 }}", ErrorKind::SyntaxError},
      {"long addition", "{{ 1" + repeat(" + 1", 100000) + " }}", ErrorKind::SyntaxError},
      {"long attribute chain", "{{ a" + repeat(".b", 100000) + " }}", ErrorKind::SyntaxError},
      {"long filter chain", "{{ a" + repeat("|f", 100000) + " }}", ErrorKind::SyntaxError},
      {"long call chain", "{{ a" + repeat("()", 100000) + " }}", ErrorKind::SyntaxError},
      {"nested calls", "{{ " + repeat("f(", 1000) + repeat(")", 1000) + " }}",
       ErrorKind::SyntaxError},
      {"macro that calls itself forever", "{% macro f() %}{{ f() }}{% endmacro %}{{ f() }}",
       ErrorKind::InvalidOperation},
      {"macros that call each other forever",
       "{% macro a() %}{{ b() }}{% endmacro %}{% macro b() %}{{ a() }}{% endmacro %}{{ a() }}",
       ErrorKind::InvalidOperation},
      {"recursive loop forever", "{% for x in [1] recursive %}{{ loop([x]) }}{% endfor %}",
       ErrorKind::InvalidOperation},
      {"caller that recurses forever",
       "{% macro m() %}{{ caller() }}{% endmacro %}{% macro r() %}{% call m() %}{{ r() }}"
       "{% endcall %}{% endmacro %}{{ r() }}",
       ErrorKind::InvalidOperation},
      {"deep blocks inside deep recursion",
       "{% macro f() %}" + repeat("{% if true %}", 60) + "{{ f() }}" + repeat("{% endif %}", 60) +
           "{% endmacro %}{{ f() }}",
       ErrorKind::InvalidOperation},
  };
  for (const auto& c : cases) {
    run_with_stack(std::size_t{2} << 20, [&] {
      const Environment env = make_env();
      auto r = env.render_named_str("t", c.source, json::Object{});
      ASSERT_FALSE(r) << c.name;
      EXPECT_EQ(r.error().kind(), c.kind) << c.name << ": " << r.error().display();
      EXPECT_EQ(r.error().template_name().value_or(""), "t") << c.name;
    });
  }
}

TEST(EngineLimits, ReasonableNestingStillWorks) {
  struct Case {
    const char* name;
    std::string source;
    std::string expected;
  };
  const Case cases[] = {
      {"40 parentheses", "{{ " + repeat("(", 40) + "7" + repeat(")", 40) + " }}", "7"},
      {"30 nested ifs", repeat("{% if true %}", 30) + "in" + repeat("{% endif %}", 30), "in"},
      {"100 additions", "{{ 0" + repeat(" + 1", 100) + " }}", "100"},
      {"recursion 50 deep",
       "{% macro f(n) %}{% if n > 0 %}{{ f(n - 1) }}{% else %}bottom{% endif %}{% endmacro %}"
       "{{ f(50) }}",
       "bottom"},
  };
  for (const auto& c : cases) {
    run_with_stack(std::size_t{2} << 20, [&] {
      auto r = make_env().render_named_str("t", c.source, json::Object{});
      ASSERT_TRUE(r) << c.name << ": " << r.error().display();
      EXPECT_EQ(*r, c.expected) << c.name;
    });
  }
}

TEST(EngineLimits, DeeplyNestedValuesAreShownCutAndFreedWithoutRecursion) {
  // Five nested loops of ten build a sequence nested 100,000 deep through a namespace.
  const std::string loops =
      repeat("{% for x in ten %}", 5) + "{% set ns.v = [ns.v] %}" + repeat("{% endfor %}", 5);
  json::Object ctx;
  ctx["ten"] = json::Array{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  run_with_stack(std::size_t{2} << 20, [&] {
    Environment env = make_env();
    auto shown = env.render_named_str(
        "t", "{% set ns = namespace(v=0) %}" + loops + "{{ ns.v == ns.v }}|{{ ns.v }}", ctx);
    ASSERT_TRUE(shown) << shown.error().display();
    EXPECT_TRUE(shown->starts_with("true|[[[[")) << shown->substr(0, 40);
    EXPECT_NE(shown->find("[...]"), std::string::npos);

    env.set_auto_escape_callback([](std::string_view) {
      korvel::engine::EscapeChoice c;
      c.kind = korvel::engine::EscapeChoice::Kind::Json;
      return c;
    });
    auto as_json =
        env.render_named_str("t", "{% set ns = namespace(v=0) %}" + loops + "{{ ns.v }}", ctx);
    ASSERT_FALSE(as_json);
    EXPECT_EQ(as_json.error().kind(), ErrorKind::BadSerialization);
  });
}

TEST(EngineLimits, RepetitionIsBounded) {
  const Environment env = make_env();
  for (const char* src : {"{{ 'x' * 100000000000 }}", "{{ [1, 2] * 100000000000 }}",
                          "{{ 'ab' * 170141183460469231731687303715884105727 }}"}) {
    auto r = env.render_named_str("t", src, json::Object{});
    ASSERT_FALSE(r) << src;
    EXPECT_EQ(r.error().kind(), ErrorKind::InvalidOperation) << src;
  }
  auto small = env.render_named_str("t", "{{ 'ab' * 3 }}{{ [0] * 2 }}{{ 'x' * -1 }}|", {});
  ASSERT_TRUE(small);
  EXPECT_EQ(*small, "ababab[0, 0]|");
}

TEST(EngineLimits, ValuesBuiltByDoublingAreBounded) {
  // Forty doublings would ask for a terabyte; each operator stops at its size bound instead.
  json::Object ctx;
  ctx.emplace("forty", json::Array(40, json::Value(0)));
  ctx.emplace("thirty", json::Array(29, json::Value(0)));
  const LimitCase cases[] = {
      {"string concatenation",
       "{% set s = namespace(v='x') %}{% for i in forty %}{% set s.v = s.v ~ s.v %}{% endfor %}",
       ErrorKind::InvalidOperation},
      {"string addition",
       "{% set s = namespace(v='x') %}{% for i in forty %}{% set s.v = s.v + s.v %}{% endfor %}",
       ErrorKind::InvalidOperation},
      {"list addition",
       "{% set s = namespace(v=[1]) %}{% for i in forty %}{% set s.v = s.v + s.v %}{% endfor %}",
       ErrorKind::InvalidOperation},
      {"shared nesting concatenated",
       "{% set s = namespace(v=1) %}{% for i in thirty %}{% set s.v = [s.v, s.v] %}{% endfor %}"
       "{{ s.v ~ '' }}",
       ErrorKind::InvalidOperation},
      {"shared nesting printed",
       "{% set s = namespace(v=1) %}{% for i in thirty %}{% set s.v = [s.v, s.v] %}{% endfor %}"
       "{{ s.v }}",
       ErrorKind::WriteFailure},
  };
  const Environment env = make_env();
  for (const auto& c : cases) {
    auto r = env.render_named_str("t", c.source, ctx);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().kind(), c.kind) << c.name << ": " << r.error().display();
  }
  // The unchecked display form of such a value is cut short rather than exhausting memory.
  auto shown = env.render_named_str(
      "t",
      "{% set s = namespace(v=1) %}{% for i in thirty %}{% set s.v = [s.v, s.v] %}{% endfor %}"
      "{{ s.v == s.v }}",
      ctx);
  ASSERT_TRUE(shown) << shown.error().display();
}

// An object that counts how many of its kind are alive.
class Probe final : public korvel::engine::Object {
 public:
  explicit Probe(int* alive) : alive_(alive) { ++*alive_; }
  ~Probe() override { --*alive_; }
  std::string_view type_name() const override { return "probe"; }

 private:
  int* alive_;
};

TEST(EngineLimits, ReferenceCyclesAreFreedWhenRenderingEnds) {
  int alive = 0;
  Environment env = make_env();
  env.add_function("probe",
                   [&alive](State&, std::span<const Value>, const Kwargs&) -> Result<Value> {
                     return Value::make_object<Probe>(&alive);
                   });
  const char* cases[] = {
      "{% set ns = namespace() %}{% set ns.self = ns %}{% set ns.p = probe() %}",
      "{% set a = namespace() %}{% set b = namespace(a=a) %}{% set a.b = [b, probe()] %}",
      "{% for x in [1] %}{% set p = probe() %}{{ loop.changed(loop, p) }}{% endfor %}",
      "{% set ns = namespace() %}{% set ns.p = probe() %}{{ missing.attr }}",  // fails midway
  };
  for (const char* src : cases) {
    (void)env.render_named_str("t", src, json::Object{});
    EXPECT_EQ(alive, 0) << src;
  }
}

TEST(EngineLimits, OutputIsBounded) {
  // 2,000 rows of 200,000 bytes each would be 400 MB; the output bound stops it.
  json::Object ctx;
  ctx.emplace("rows", json::Array(2000, json::Value(0)));
  ctx.emplace("chunk", json::Value(std::string(200000, 'x')));
  auto r = make_env().render_named_str("t", "{% for r in rows %}{{ chunk }}{% endfor %}", ctx);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), ErrorKind::WriteFailure);
}

}  // namespace
