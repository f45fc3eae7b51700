// Built-in filters over sequences, maps and iterables — attr, batch, count, default (d),
// dictsort, first, groupby, items, join, last, length, list, map, max, min, reject, rejectattr,
// reverse, select, selectattr, slice, sort, sum, unique — with Jinja2's arguments. Entry point:
// add_sequence_filters. Where Jinja2 returns a generator, these return the sequence it yields.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "korvel/engine/builtins/args.hpp"
#include "korvel/engine/builtins/attribute_path.hpp"
#include "korvel/engine/builtins/families.hpp"
#include "korvel/engine/builtins/str_ops.hpp"
#include "korvel/engine/object.hpp"
#include "korvel/engine/state.hpp"
#include "korvel/engine/value_ops.hpp"

namespace korvel::engine::builtins::detail {
namespace {

using Args = std::span<const Value>;

// Most items a filter may add on its own (padding in batch, empty slices), so that a template
// cannot exhaust memory with one small number.
constexpr long long kMaxBuiltItems = static_cast<long long>(kMaxRepeatItems);

// What iterating `v` yields, with the filter's name in the failure.
Result<std::vector<Value>> items_of(std::string_view name, const Value& v) {
  auto items = v.iterate();
  if (!items) {
    return fail(ErrorKind::InvalidOperation,
                std::string(name) + "(): " + items.error().detail().value_or("not iterable"));
  }
  return items;
}

// One group of groupby: unpacks as (grouper, list) and has both as attributes.
class GroupTuple final : public Object {
 public:
  GroupTuple(Value grouper, Value list) : grouper_(std::move(grouper)), list_(std::move(list)) {}
  std::string_view type_name() const override { return "group"; }
  Value get_attr(std::string_view name) const override {
    if (name == "grouper") return grouper_;
    if (name == "list") return list_;
    return Value();
  }
  // group[0] is the grouper, group[1] (or group[-1]) the list, as in a tuple.
  Value get_item(const Value& key) const override {
    if (!key.is_int()) return Object::get_item(key);
    const Int128 i = key.as_int();
    if (i == 0 || i == -2) return grouper_;
    if (i == 1 || i == -1) return list_;
    return Value();
  }
  std::optional<std::vector<Value>> iterate() const override {
    return std::vector<Value>{grouper_, list_};
  }
  void write_display(std::string& out) const override {
    Value::from_seq({grouper_, list_}).write_display(out);
  }

 private:
  Value grouper_;
  Value list_;
};

// `a < b` on sort keys, remembering the first failure (Python's sort stops at the first
// incomparable pair; std::stable_sort cannot, so the comparator says "not less" from then on and
// the error is reported afterwards). Keys of several parts compare as Python lists do (equal
// parts skipped); a one-part key compares directly, so undefined keys fail as in Jinja2.
class KeyLess {
 public:
  KeyLess(std::optional<Error>& error, bool as_list) : error_(&error), as_list_(as_list) {}
  bool operator()(const std::vector<Value>& a, const std::vector<Value>& b) const {
    if (*error_) return false;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
      if (as_list_ && a[i] == b[i]) continue;
      if (a[i].is_undefined() || b[i].is_undefined()) {
        *error_ = Error(ErrorKind::UndefinedError, "cannot order an undefined value");
        return false;
      }
      auto c = compare(a[i], b[i]);
      if (!c) {
        *error_ = c.error();
        return false;
      }
      return *c < 0;
    }
    return a.size() < b.size();
  }

 private:
  std::optional<Error>* error_;
  bool as_list_;
};

// Stable order of items by their keys; descending keeps equal items in their original order.
Result<std::vector<std::size_t>> sorted_order(const std::vector<std::vector<Value>>& keys,
                                              bool reverse, bool as_list = false) {
  std::vector<std::size_t> order(keys.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::optional<Error> error;
  KeyLess less(error, as_list);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    return reverse ? less(keys[y], keys[x]) : less(keys[x], keys[y]);
  });
  if (error) return std::unexpected(std::move(*error));
  return order;
}

// {"a": 1}|attr("a") → undefined (maps have items, not attributes); namespace|attr("x") → its x.
Result<Value> do_attr(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<2>("attr", args, kwargs, {"obj", "name"}, 2);
  if (!b) return std::unexpected(b.error());
  const Value& obj = *(*b)[0];
  auto name = str_arg("attr", "name", *(*b)[1]);
  if (!name) return std::unexpected(name.error());
  if (obj.is_undefined()) {
    return fail(ErrorKind::UndefinedError,
                "attr(): no attribute '" + std::string(*name) + "' on an undefined value");
  }
  if (obj.is_object()) return obj.as_object()->get_attr(*name);
  return Value();
}

// [1, 2, 3, 4, 5]|batch(2, 0) → [[1, 2], [3, 4], [5, 0]].
Result<Value> do_batch(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<3>("batch", args, kwargs, {"value", "linecount", "fill_with"}, 2);
  if (!b) return std::unexpected(b.error());
  auto items = items_of("batch", *(*b)[0]);
  if (!items) return std::unexpected(items.error());
  auto linecount = count_arg("batch", "linecount", *(*b)[1]);
  if (!linecount) return std::unexpected(linecount.error());
  std::vector<Value> out, tmp;
  for (Value& item : *items) {
    if (static_cast<long long>(tmp.size()) == *linecount) {
      out.push_back(Value::from_seq(std::move(tmp)));
      tmp.clear();
    }
    tmp.push_back(std::move(item));
  }
  if (!tmp.empty()) {
    if ((*b).given(2) && static_cast<long long>(tmp.size()) < *linecount) {
      if (*linecount > kMaxBuiltItems) {
        return fail(ErrorKind::InvalidOperation, "batch(): linecount too large to fill");
      }
      tmp.resize(static_cast<std::size_t>(*linecount), *(*b)[2]);
    }
    out.push_back(Value::from_seq(std::move(tmp)));
  }
  return Value::from_seq(std::move(out));
}

// [1, 2, 3]|length → 3; "héllo"|length → 5 (characters); undefined → 0.
Result<Value> do_length(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("length", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_undefined()) return Value::from_int(0);
  if (v.is_string()) return Value::from_int(static_cast<Int128>(char_count(v.str())));
  if (auto n = v.len()) return Value::from_int(static_cast<Int128>(*n));
  if (v.is_object()) {
    if (auto items = v.as_object()->iterate()) return Value::from_int(Int128(items->size()));
  }
  return fail(ErrorKind::InvalidOperation,
              "length(): " + std::string(kind_name(v.kind())) + " has no length");
}

// missing|default("x") → "x"; ""|default("x", true) → "x"; none|default("x") → none.
Result<Value> do_default(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<3>("default", args, kwargs, {"value", "default_value", "boolean"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  const bool boolean = (*b)[2] && (*b)[2]->is_true();
  if (v.is_undefined() || (boolean && !v.is_true())) {
    return (*b).get_or(1, Value::from_string(std::string_view("")));
  }
  return v;
}

// {"b": 1, "a": 2}|dictsort → [["a", 2], ["b", 1]]; by="value", reverse=true, case_sensitive.
Result<Value> do_dictsort(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<4>("dictsort", args, kwargs, {"value", "case_sensitive", "by", "reverse"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_undefined()) return fail(ErrorKind::UndefinedError, "dictsort() of an undefined value");
  if (!v.is_map()) {
    return fail(ErrorKind::InvalidOperation,
                "dictsort() needs a map, not " + std::string(kind_name(v.kind())));
  }
  const bool case_sensitive = (*b)[1] && (*b)[1]->is_true();
  std::size_t pos = 0;
  if (const Value* by = (*b)[2]) {
    const auto s = by->as_str();
    if (s && *s == "value") {
      pos = 1;
    } else if (!s || *s != "key") {
      return fail(ErrorKind::InvalidOperation,
                  "dictsort(): you can only sort by either \"key\" or \"value\"");
    }
  }
  const bool reverse = (*b)[3] && (*b)[3]->is_true();
  const MapEntries entries = v.map_entries();
  std::vector<std::vector<Value>> keys;
  keys.reserve(entries.size());
  for (const auto& e : entries) {
    const Value& k = pos == 0 ? e.first : e.second;
    keys.push_back({case_sensitive ? k : ignore_case(k)});
  }
  auto order = sorted_order(keys, reverse);
  if (!order) return std::unexpected(order.error());
  std::vector<Value> out;
  out.reserve(entries.size());
  for (std::size_t i : *order)
    out.push_back(Value::from_seq({entries[i].first, entries[i].second}));
  return Value::from_seq(std::move(out));
}

// [1, 2, 3]|first → 1; []|first → undefined.
Result<Value> do_first(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("first", args, kwargs, {"seq"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_seq()) return v.seq_len() ? v.seq_at(0) : Value();
  if (v.is_string()) {
    const std::string_view s = v.str();
    return s.empty() ? Value() : Value::from_string(s.substr(0, decode_at(s, 0).size));
  }
  auto items = items_of("first", v);
  if (!items) return std::unexpected(items.error());
  return items->empty() ? Value() : items->front();
}

// [1, 2, 3]|last → 3; []|last → undefined.
Result<Value> do_last(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("last", args, kwargs, {"seq"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_seq()) return v.seq_len() ? v.seq_at(v.seq_len() - 1) : Value();
  auto items = items_of("last", v);
  if (!items) return std::unexpected(items.error());
  return items->empty() ? Value() : items->back();
}

bool is_nan(const Value& v) { return v.is_float() && std::isnan(v.as_float()); }

bool same_group_key(const Value& a, const Value& b) { return a == b || (is_nan(a) && is_nan(b)); }

// [{"c": "a", "n": 1}, {"c": "b"}, {"c": "A"}]|groupby("c") → [("a", [first, third]), ("b", ...)]
// Each group unpacks as grouper, list and has .grouper and .list; case-insensitive by default.
Result<Value> do_groupby(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<4>("groupby", args, kwargs, {"value", "attribute", "default", "case_sensitive"}, 2);
  if (!b) return std::unexpected(b.error());
  auto items = items_of("groupby", *(*b)[0]);
  if (!items) return std::unexpected(items.error());
  const AttrPath path = parse_attr_path((*b)[1]);
  const Value* fallback = (*b)[2];
  const bool case_sensitive = (*b)[3] && (*b)[3]->is_true();
  std::vector<std::vector<Value>> keys;
  keys.reserve(items->size());
  for (const Value& item : *items) {
    auto k = lookup_path(item, path, fallback);
    if (!k) return std::unexpected(k.error());
    keys.push_back({case_sensitive ? *k : ignore_case(*k)});
  }
  auto order = sorted_order(keys, false);
  if (!order) return std::unexpected(order.error());
  std::vector<Value> out;
  std::size_t i = 0;
  while (i < order->size()) {
    const std::vector<Value>& key = keys[(*order)[i]];
    // A group starts with its first item whatever its key. NaN equals nothing, not even itself;
    // Python still puts the items of one shared NaN (a default, say) in one group, since it
    // compares a key with itself by identity, so NaN keys group together here.
    std::vector<Value> members{(*items)[(*order)[i]]};
    std::size_t j = i + 1;
    while (j < order->size() && same_group_key(keys[(*order)[j]][0], key[0])) {
      members.push_back((*items)[(*order)[j]]);
      ++j;
    }
    Value grouper = key[0];
    if (!case_sensitive) {  // the first member's own spelling, not the lower-cased key
      auto g = lookup_path(members.front(), path, fallback);
      if (!g) return std::unexpected(g.error());
      grouper = *g;
    }
    out.push_back(
        Value::make_object<GroupTuple>(std::move(grouper), Value::from_seq(std::move(members))));
    i = j;
  }
  return Value::from_seq(std::move(out));
}

// {"a": 1}|items → [["a", 1]]; undefined → [].
Result<Value> do_items(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("items", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_undefined()) return Value::from_seq({});
  if (!v.is_map()) {
    return fail(ErrorKind::InvalidOperation, "items(): can only get item pairs from a map, not " +
                                                 std::string(kind_name(v.kind())));
  }
  std::vector<Value> out;
  for (auto& [k, val] : v.map_entries()) out.push_back(Value::from_seq({k, val}));
  return Value::from_seq(std::move(out));
}

// [1, 2, 3]|join("|") → "1|2|3"; users|join(", ", attribute="name").
Result<Value> do_join(State& state, Args args, const Kwargs& kwargs) {
  auto b = bind<3>("join", args, kwargs, {"value", "d", "attribute"}, 1);
  if (!b) return std::unexpected(b.error());
  auto items = items_of("join", *(*b)[0]);
  if (!items) return std::unexpected(items.error());
  if ((*b).given(2)) {
    const AttrPath path = parse_attr_path((*b)[2]);
    for (Value& item : *items) {
      auto v = lookup_path(item, path);
      if (!v) return std::unexpected(v.error());
      item = std::move(*v);
    }
  }
  const Value sep = (*b).get_or(1, Value::from_string(std::string_view("")));
  std::string out;
  if (state.escape().kind != EscapeChoice::Kind::Html) {
    std::string storage;
    auto d = text_view(sep, storage);
    if (!d) return std::unexpected(d.error());
    for (std::size_t i = 0; i < items->size(); ++i) {
      if (auto r = check_built_size("join", out.size()); !r) return std::unexpected(r.error());
      if (i > 0) out += *d;
      if ((*items)[i].is_string()) {
        out.append((*items)[i].str());
      } else if (auto r = (*items)[i].write_display_checked(out); !r) {
        return std::unexpected(r.error());
      }
    }
    if (auto r = check_built_size("join", out.size()); !r) return std::unexpected(r.error());
    return Value::from_string(std::move(out));
  }
  // Markup rules: with a safe separator, or any safe item, unsafe parts are escaped and the
  // result is safe; otherwise the parts join as plain text.
  bool markup = sep.is_safe();
  for (const Value& item : *items) markup = markup || item.is_safe();
  auto part = [&](const Value& v) -> Result<std::string> {
    auto text = text_of(v);
    if (!text || !markup || v.is_safe()) return text;
    std::string e;
    write_html_escaped(*text, e);
    return e;
  };
  const auto d = part(sep);
  if (!d) return std::unexpected(d.error());
  for (std::size_t i = 0; i < items->size(); ++i) {
    if (auto r = check_built_size("join", out.size()); !r) return std::unexpected(r.error());
    if (i > 0) out += *d;
    auto p = part((*items)[i]);
    if (!p) return std::unexpected(p.error());
    out += *p;
  }
  if (auto r = check_built_size("join", out.size()); !r) return std::unexpected(r.error());
  return Value::string_with_mark(std::move(out), markup);
}

// "abc"|list → ["a", "b", "c"]; {"a": 1}|list → ["a"].
Result<Value> do_list(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("list", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_seq()) return v;
  auto items = items_of("list", v);
  if (!items) return std::unexpected(items.error());
  return Value::from_seq(std::move(*items));
}

// ["a", "b"]|map("upper") → ["A", "B"] (any filter, with its arguments);
// users|map(attribute="name", default="?") → the users' names.
Result<Value> do_map(State& state, Args args, const Kwargs& kwargs) {
  if (args.empty()) return fail(ErrorKind::MissingArgument, "map() missing the value");
  const Value& v = args[0];
  if (!v.is_true()) return Value::from_seq({});
  auto items = items_of("map", v);
  if (!items) return std::unexpected(items.error());
  std::vector<Value> out;
  out.reserve(items->size());
  if (args.size() == 1 && find_kwarg(kwargs, "attribute") != nullptr) {
    for (const auto& [k, unused] : kwargs) {
      if (k != "attribute" && k != "default") {
        return fail(ErrorKind::TooManyArguments, "map(): unexpected keyword argument '" + k + "'");
      }
    }
    const AttrPath path = parse_attr_path(find_kwarg(kwargs, "attribute"));
    const Value* fallback = find_kwarg(kwargs, "default");
    for (const Value& item : *items) {
      auto r = lookup_path(item, path, fallback);
      if (!r) return std::unexpected(r.error());
      out.push_back(std::move(*r));
    }
    return Value::from_seq(std::move(out));
  }
  if (args.size() < 2) return fail(ErrorKind::MissingArgument, "map() requires a filter argument");
  auto name = str_arg("map", "name", args[1]);
  if (!name) return std::unexpected(name.error());
  std::vector<Value> call(args.begin() + 1, args.end());  // call[0] becomes the item
  for (const Value& item : *items) {
    call[0] = item;
    auto r = state.apply_filter(*name, call, kwargs);
    if (!r) return std::unexpected(r.error());
    out.push_back(std::move(*r));
  }
  return Value::from_seq(std::move(out));
}

// [3, 1, 2]|max → 3; ["a", "B"]|max → "B" (case-insensitive); users|max(attribute="age").
template <bool kMax>
Result<Value> do_min_max(State&, Args args, const Kwargs& kwargs) {
  const char* name = kMax ? "max" : "min";
  auto b = bind<3>(name, args, kwargs, {"value", "case_sensitive", "attribute"}, 1);
  if (!b) return std::unexpected(b.error());
  auto items = items_of(name, *(*b)[0]);
  if (!items) return std::unexpected(items.error());
  if (items->empty()) return Value();
  const bool case_sensitive = (*b)[1] && (*b)[1]->is_true();
  const AttrPath path = parse_attr_path((*b)[2]);
  auto key_of = [&](const Value& item) -> Result<Value> {
    auto k = lookup_path(item, path);
    if (!k) return k;
    return case_sensitive ? *k : ignore_case(*k);
  };
  std::size_t best = 0;
  auto best_key = key_of((*items)[0]);
  if (!best_key) return std::unexpected(best_key.error());
  for (std::size_t i = 1; i < items->size(); ++i) {
    auto k = key_of((*items)[i]);
    if (!k) return std::unexpected(k.error());
    auto c = compare(*k, *best_key);
    if (!c) return std::unexpected(c.error());
    if (kMax ? *c > 0 : *c < 0) {  // the first of equal extremes wins, as in Python
      best = i;
      best_key = std::move(k);
    }
  }
  return (*items)[best];
}

// [1, 2, 3]|select("odd") → [1, 3]; |reject("odd") → [2]; users|selectattr("age", "gt", 30),
// users|rejectattr("email", "none"): keep the items whose test (or truth) is `kKeep`.
template <bool kKeep, bool kAttr>
Result<Value> do_select(State& state, Args args, const Kwargs& kwargs) {
  const char* name = kAttr ? (kKeep ? "selectattr" : "rejectattr") : (kKeep ? "select" : "reject");
  if (args.empty()) return fail(ErrorKind::MissingArgument, std::string(name) + "() missing value");
  const Value& v = args[0];
  if (!v.is_true()) return Value::from_seq({});
  std::size_t off = 1;
  AttrPath path;
  if (kAttr) {
    if (args.size() < 2) {
      return fail(ErrorKind::MissingArgument,
                  std::string(name) + "() missing parameter for attribute name");
    }
    path = parse_attr_path(&args[1]);
    off = 2;
  }
  auto items = items_of(name, v);
  if (!items) return std::unexpected(items.error());
  const bool has_test = args.size() > off;
  std::string_view test;
  if (has_test) {
    auto t = str_arg(name, "test", args[off]);
    if (!t) return std::unexpected(t.error());
    test = *t;
  }
  std::vector<Value> call;
  if (has_test) call.assign(args.begin() + static_cast<std::ptrdiff_t>(off), args.end());
  std::vector<Value> out;
  for (const Value& item : *items) {
    auto subject = lookup_path(item, path);
    if (!subject) return std::unexpected(subject.error());
    bool passed;
    if (has_test) {
      call[0] = *subject;
      auto r = state.perform_test(test, call, kwargs);
      if (!r) return std::unexpected(r.error());
      passed = *r;
    } else {
      passed = subject->is_true();
    }
    if (passed == kKeep) out.push_back(item);
  }
  return Value::from_seq(std::move(out));
}

// [1, 2, 3]|reverse → [3, 2, 1]; "abc"|reverse → "cba".
Result<Value> do_reverse(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<1>("reverse", args, kwargs, {"value"}, 1);
  if (!b) return std::unexpected(b.error());
  const Value& v = *(*b)[0];
  if (v.is_string()) return Value::string_with_mark(reverse_chars(v.str()), v.is_safe());
  auto items = v.iterate();
  if (!items) return fail(ErrorKind::InvalidOperation, "reverse(): argument must be iterable");
  std::reverse(items->begin(), items->end());
  return Value::from_seq(std::move(*items));
}

// [1, 2, 3, 4, 5]|slice(3) → [[1, 2], [3, 4], [5]]; slice(3, 0) pads: [[1, 2], [3, 4], [5, 0]].
Result<Value> do_slice(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<3>("slice", args, kwargs, {"value", "slices", "fill_with"}, 2);
  if (!b) return std::unexpected(b.error());
  auto items = items_of("slice", *(*b)[0]);
  if (!items) return std::unexpected(items.error());
  auto slices = count_arg("slice", "slices", *(*b)[1]);
  if (!slices) return std::unexpected(slices.error());
  if (*slices == 0) return fail(ErrorKind::InvalidOperation, "slice(): division by zero");
  if (*slices > kMaxBuiltItems)
    return fail(ErrorKind::InvalidOperation, "slice(): too many slices");
  std::vector<Value> out;
  if (*slices < 0) return Value::from_seq(std::move(out));
  const long long length = static_cast<long long>(items->size());
  const long long per = length / *slices;
  const long long extra = length % *slices;
  long long offset = 0;
  for (long long n = 0; n < *slices; ++n) {
    const long long start = offset + n * per;
    if (n < extra) ++offset;
    const long long end = offset + (n + 1) * per;
    std::vector<Value> part(items->begin() + start, items->begin() + end);
    if ((*b).given(2) && n >= extra) part.push_back(*(*b)[2]);
    out.push_back(Value::from_seq(std::move(part)));
  }
  return Value::from_seq(std::move(out));
}

// ["b", "A", "a"]|sort → ["A", "a", "b"]; users|sort(attribute="age,name", reverse=true).
Result<Value> do_sort(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<4>("sort", args, kwargs, {"value", "reverse", "case_sensitive", "attribute"}, 1);
  if (!b) return std::unexpected(b.error());
  auto items = items_of("sort", *(*b)[0]);
  if (!items) return std::unexpected(items.error());
  const bool reverse = (*b)[1] && (*b)[1]->is_true();
  const bool case_sensitive = (*b)[2] && (*b)[2]->is_true();
  const std::vector<AttrPath> paths = parse_attr_paths((*b)[3]);
  std::vector<std::vector<Value>> keys;
  keys.reserve(items->size());
  for (const Value& item : *items) {
    std::vector<Value> key;
    for (const AttrPath& path : paths) {
      auto k = lookup_path(item, path);
      if (!k) return std::unexpected(k.error());
      key.push_back(case_sensitive ? std::move(*k) : ignore_case(*k));
    }
    keys.push_back(std::move(key));
  }
  auto order = sorted_order(keys, reverse, true);
  if (!order) return std::unexpected(order.error());
  std::vector<Value> out;
  out.reserve(items->size());
  for (std::size_t i : *order) out.push_back((*items)[i]);
  return Value::from_seq(std::move(out));
}

// [1, 2, 3]|sum → 6; items|sum(attribute="price", start=10).
Result<Value> do_sum(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<3>("sum", args, kwargs, {"iterable", "attribute", "start"}, 1);
  if (!b) return std::unexpected(b.error());
  auto items = items_of("sum", *(*b)[0]);
  if (!items) return std::unexpected(items.error());
  const AttrPath path = parse_attr_path((*b)[1]);
  Value total = (*b).get_or(2, Value::from_int(0));
  for (const Value& item : *items) {
    auto v = lookup_path(item, path);
    if (!v) return std::unexpected(v.error());
    auto r = binary_op(BinaryOp::Add, total, *v);
    if (!r) return std::unexpected(r.error());
    total = std::move(*r);
  }
  return total;
}

// ["a", "b", "A"]|unique → ["a", "b"]; users|unique(attribute="city").
Result<Value> do_unique(State&, Args args, const Kwargs& kwargs) {
  auto b = bind<3>("unique", args, kwargs, {"value", "case_sensitive", "attribute"}, 1);
  if (!b) return std::unexpected(b.error());
  auto items = items_of("unique", *(*b)[0]);
  if (!items) return std::unexpected(items.error());
  const bool case_sensitive = (*b)[1] && (*b)[1]->is_true();
  const AttrPath path = parse_attr_path((*b)[2]);
  struct Hash {
    std::size_t operator()(const Value& v) const noexcept { return v.hash(); }
  };
  std::unordered_set<Value, Hash> seen;
  std::vector<Value> out;
  for (const Value& item : *items) {
    auto k = lookup_path(item, path);
    if (!k) return std::unexpected(k.error());
    if (seen.insert(case_sensitive ? std::move(*k) : ignore_case(*k)).second) out.push_back(item);
  }
  return Value::from_seq(std::move(out));
}

}  // namespace

void add_sequence_filters(FilterTable& filters) {
  filters["attr"] = do_attr;
  filters["batch"] = do_batch;
  filters["count"] = do_length;
  filters["d"] = do_default;
  filters["default"] = do_default;
  filters["dictsort"] = do_dictsort;
  filters["first"] = do_first;
  filters["groupby"] = do_groupby;
  filters["items"] = do_items;
  filters["join"] = do_join;
  filters["last"] = do_last;
  filters["length"] = do_length;
  filters["list"] = do_list;
  filters["map"] = do_map;
  filters["max"] = do_min_max<true>;
  filters["min"] = do_min_max<false>;
  filters["reject"] = do_select<false, false>;
  filters["rejectattr"] = do_select<false, true>;
  filters["reverse"] = do_reverse;
  filters["select"] = do_select<true, false>;
  filters["selectattr"] = do_select<true, true>;
  filters["slice"] = do_slice;
  filters["sort"] = do_sort;
  filters["sum"] = do_sum;
  filters["unique"] = do_unique;
}

}  // namespace korvel::engine::builtins::detail
