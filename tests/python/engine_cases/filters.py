"""The built-in filters, with Jinja2's arguments and keyword arguments."""

from . import E, J, X

CTX = {
    "nums": [3, 1, 4, 1, 5, 9, 2, 6],
    "words": ["pear", "Apple", "fig", "apple", "Banana"],
    "users": [
        {"name": "ann", "role": "admin", "age": 40, "active": True},
        {"name": "bob", "role": "user", "age": 25, "active": False},
        {"name": "cy", "role": "user", "age": 31, "active": True},
        {"name": "di", "role": "guest", "age": 25, "active": True},
    ],
    "conf": {"b": 2, "a": 1, "C": 3},
    "text": "  Hello World  ",
    "html": "<a href=\"x\">Tom & 'Jerry'</a>",
    "multi": "line one\nline two\n\nline four",
    "neg": -7,
    "pi": 3.14159,
    "user": {"name": "ann", "age": 40},
    "nothing": None,
}

CASES = [
    # abs
    J("abs_int", "{{{ neg|abs }}} {{{ 5|abs }}}", CTX),
    J("abs_float", "{{{ -2.5|abs }}}"),
    # attr
    # Like Jinja2, attr looks up attributes only, and a JSON map has none.
    J("attr_filter_map_entry", "[{{{ user|attr('name') }}}]", CTX),
    J("attr_filter_missing", "[{{{ user|attr('zip') }}}]", CTX),
    # batch
    J(
        "batch_rows",
        "{% for row in [1, 2, 3, 4, 5, 6, 7]|batch(3) %}{{{ row|join(',') }}};{% endfor %}",
    ),
    J(
        "batch_fill",
        "{% for row in [1, 2, 3, 4]|batch(3, 'x') %}{{{ row|join(',') }}};{% endfor %}",
    ),
    J("batch_exact", "{{{ [1, 2, 3, 4, 5]|batch(2)|list|length }}}"),
    # bool (not in Jinja2)
    E(
        "bool_filter",
        "{{{ 1|bool }}} {{{ ''|bool }}} {{{ [0]|bool }}} {{{ missing|bool }}}",
        "true false true false",
        "extra",
    ),
    # capitalize
    J("capitalize", "{{{ 'hELLO wORLD'|capitalize }}}"),
    J("capitalize_empty", "[{{{ ''|capitalize }}}]"),
    # count / length
    J("count_list", "{{{ nums|count }}}", CTX),
    J("length_string_unicode", "{{{ 'grüße'|length }}}"),
    J("length_map", "{{{ conf|length }}}", CTX),
    J("length_undefined", "{{{ missing|length }}}"),
    # default / d
    J("default_undefined", "{{{ missing|default('fallback') }}}"),
    J("default_defined", "{{{ 'set'|default('fallback') }}}"),
    J("default_alias_d", "{{{ missing|d('x') }}}"),
    J("default_empty_not_replaced", "[{{{ ''|default('x') }}}]"),
    J("default_boolean_true", "{{{ ''|default('x', true) }}} {{{ 0|d('zero', boolean=true) }}}"),
    J("default_missing_attr", "{{{ user.zip|default('none given') }}}", CTX),
    J("default_no_args", "[{{{ missing|default }}}]"),
    E("default_none_kept", "[{{{ nothing|default('x') }}}]", "[]", "none", CTX),
    J("default_none_boolean", "{{{ nothing|default('x', true) }}}", CTX),
    # dictsort
    J("dictsort_keys", "{% for k, v in conf|dictsort %}{{{ k }}}{{{ v }}} {% endfor %}", CTX),
    J(
        "dictsort_case_sensitive",
        "{% for k, v in conf|dictsort(true) %}{{{ k }}} {% endfor %}",
        CTX,
    ),
    J(
        "dictsort_by_value",
        "{% for k, v in conf|dictsort(by='value') %}{{{ k }}} {% endfor %}",
        CTX,
    ),
    J(
        "dictsort_reverse",
        "{% for k, v in conf|dictsort(reverse=true) %}{{{ k }}} {% endfor %}",
        CTX,
    ),
    # escape / e
    J("escape_html", "{{{ html|escape }}}", CTX),
    J("escape_alias_e", "{{{ '<&>'|e }}}"),
    J("escape_twice_once", "{{{ '<'|e|e }}}"),
    J("escape_number", "{{{ 5|e }}}"),
    J("escape_safe_unchanged", "{{{ '<b>'|safe|e }}}"),
    # first / last
    J("first_list", "{{{ nums|first }}} {{{ 'abc'|first }}}", CTX),
    J("last_list", "{{{ nums|last }}} {{{ 'abc'|last }}}", CTX),
    J("first_empty", "[{{{ []|first }}}]"),
    # float
    J("float_from_string", "{{{ '2.5'|float }}} {{{ '1e2'|float }}}"),
    J("float_from_int", "{{{ 3|float }}}"),
    J("float_bad_default", "{{{ 'abc'|float }}} {{{ 'abc'|float(1.5) }}}"),
    # format
    J("format_percent_s", "{{{ '%s and %s'|format('a', 'b') }}}"),
    J("format_percent_d", "{{{ '%d items, %05.1f%%'|format(3, 2.25) }}}"),
    J("format_width", "[{{{ '%-5s|%5s'|format('ab', 'cd') }}}]"),
    # groupby
    J(
        "groupby_attribute",
        "{% for g in users|groupby('role') %}{{{ g.grouper }}}:"
        "{{{ g.list|map(attribute='name')|join(',') }}} {% endfor %}",
        CTX,
    ),
    J(
        "groupby_unpack",
        "{% for role, us in users|groupby('role') %}{{{ role }}}={{{ us|length }}} {% endfor %}",
        CTX,
    ),
    J(
        "groupby_number_key",
        "{% for age, us in users|groupby('age') %}{{{ age }}}:"
        "{{{ us|map(attribute='name')|join }}} {% endfor %}",
        CTX,
    ),
    J(
        "groupby_nested_attribute",
        "{% for k, g in [{'a': {'b': 'y'}}, {'a': {'b': 'x'}}]"
        "|groupby('a.b') %}{{{ k }}}{{{ g|length }}}{% endfor %}",
    ),
    J(
        "groupby_default",
        "{% for k, g in [{'a': 1}, {'b': 2}, {'a': 1}]|groupby('a', default=0) %}"
        "{{{ k }}}:{{{ g|length }}} {% endfor %}",
    ),
    # indent
    J("indent_default", "{{{ multi|indent }}}", CTX),
    J("indent_width", "{{{ 'a\nb\nc'|indent(2) }}}"),
    J("indent_first", "{{{ 'a\nb'|indent(2, true) }}}"),
    J("indent_blank", "{{{ 'a\n\nb'|indent(2, blank=true) }}}|{{{ 'a\n\nb'|indent(2) }}}"),
    J("indent_string_width", "{{{ 'a\nb'|indent('> ') }}}"),
    J("indent_in_block", "root:\n  {{{ 'x: 1\ny: 2'|indent(2) }}}"),
    # int
    J("int_from_string", "{{{ '42'|int }}} {{{ '-3'|int }}}"),
    J("int_from_float", "{{{ 3.9|int }}} {{{ -3.9|int }}}"),
    J("int_from_float_string", "{{{ '3.7'|int }}}"),
    J("int_bad_default", "{{{ 'abc'|int }}} {{{ 'abc'|int(7) }}}"),
    J("int_base", "{{{ '1A'|int(0, 16) }}} {{{ '0x1A'|int(base=16) }}} {{{ '101'|int(base=2) }}}"),
    J("int_bool", "{{{ true|int }}}"),
    # items
    J("items_filter", "{% for k, v in conf|items %}{{{ k }}}{{{ v }}}{% endfor %}", CTX),
    J("items_undefined", "{% for k, v in missing|items %}x{% else %}none{% endfor %}"),
    # join
    J("join_plain", "{{{ [1, 2, 3]|join }}}"),
    J("join_separator", "{{{ ['a', 'b']|join(', ') }}}"),
    J("join_attribute", "{{{ users|join('/', attribute='name') }}}", CTX),
    J("join_string_chars", "{{{ 'abc'|join('.') }}}"),
    E("join_mixed_display", "{{{ [1, true, none, 'x']|join(',') }}}", "1,true,none,x", "display"),
    # lines (not in Jinja2)
    E("lines_filter", "{{{ 'a\nb\r\nc'|lines|join('|') }}}", "a|b|c", "extra"),
    # list
    J("list_of_string", "{{{ 'abc'|list|join('-') }}}"),
    J("list_of_map_keys", "{{{ conf|list|join }}}", CTX),
    E("list_prints", "{{{ 'ab'|list }}}", '["a", "b"]', "display"),
    # lower / upper
    J("lower_upper", "{{{ 'MiXeD'|lower }}} {{{ 'MiXeD'|upper }}}"),
    J("upper_unicode", "{{{ 'straße é'|upper }}}"),
    # map
    J("map_attribute", "{{{ users|map(attribute='name')|join(',') }}}", CTX),
    J("map_filter_name", "{{{ ['a', 'b']|map('upper')|join }}}"),
    J("map_filter_args", "{{{ ['a-b', 'c-d']|map('replace', '-', '+')|join(' ') }}}"),
    J("map_int_sum", "{{{ ['1', '2', '3']|map('int')|sum }}}"),
    J("map_attribute_default", "{{{ users|map(attribute='zip', default='?')|join }}}", CTX),
    J(
        "map_nested_attribute",
        "{{{ [{'a': {'b': 1}}, {'a': {'b': 2}}]|map(attribute='a.b')|join }}}",
    ),
    # max / min
    J("max_min_numbers", "{{{ nums|max }}} {{{ nums|min }}}", CTX),
    J("max_min_strings", "{{{ words|max }}} {{{ words|min }}}", CTX),
    J(
        "max_case_sensitive",
        "{{{ words|max(case_sensitive=true) }}} {{{ words|min(case_sensitive=true) }}}",
        CTX,
    ),
    J(
        "max_attribute",
        "{{{ (users|max(attribute='age')).name }}} {{{ (users|min(attribute='age')).name }}}",
        CTX,
    ),
    J("max_empty", "[{{{ []|max }}}]"),
    # pprint
    E("pprint_list", "{{{ [1, 'a']|pprint }}}", '[1, "a"]', "display"),
    E("pprint_string", "{{{ 'x'|pprint }}}", '"x"', "display"),
    # reject / select / rejectattr / selectattr
    J("select_test", "{{{ nums|select('odd')|join(',') }}}", CTX),
    J("select_test_arg", "{{{ nums|select('>', 3)|join(',') }}}", CTX),
    J("select_divisibleby", "{{{ range(1, 13)|select('divisibleby', 3)|join(',') }}}"),
    J("select_truthy", "{{{ [0, 1, '', 'a', none]|select|join(',') }}}"),
    J("reject_test", "{{{ nums|reject('odd')|join(',') }}}", CTX),
    J("reject_in", "{{{ nums|reject('in', [1, 9])|join(',') }}}", CTX),
    J("selectattr_truthy", "{{{ users|selectattr('active')|map(attribute='name')|join }}}", CTX),
    J(
        "selectattr_test",
        "{{{ users|selectattr('role', 'equalto', 'user')|map(attribute='name')|join }}}",
        CTX,
    ),
    J(
        "selectattr_compare",
        "{{{ users|selectattr('age', '>=', 31)|map(attribute='name')|join }}}",
        CTX,
    ),
    J("rejectattr_truthy", "{{{ users|rejectattr('active')|map(attribute='name')|join }}}", CTX),
    J(
        "rejectattr_test",
        "{{{ users|rejectattr('role', 'eq', 'user')|map(attribute='name')|join }}}",
        CTX,
    ),
    # replace
    J("replace_all", "{{{ 'a-b-c'|replace('-', '+') }}}"),
    J("replace_count", "{{{ 'a-b-c'|replace('-', '+', 1) }}}"),
    J("replace_empty_old", "{{{ 'abc'|replace('', '.') }}}"),
    # reverse
    J("reverse_string", "{{{ 'abc'|reverse }}}"),
    J("reverse_list", "{{{ nums|reverse|join }}}", CTX),
    # round
    J("round_precision", "{{{ pi|round(2) }}} {{{ pi|round(3) }}}", CTX),
    J("round_floor_ceil", "{{{ pi|round(1, 'floor') }}} {{{ pi|round(1, 'ceil') }}}", CTX),
    J("round_default", "{{{ 2.7|round }}} {{{ 42|round }}}"),
    J("round_half", "{{{ 2.5|round }}} {{{ 3.5|round }}} {{{ 0.125|round(2) }}}"),
    J("round_negative", "{{{ -2.7|round }}} {{{ -2.71|round(1, 'ceil') }}}"),
    # safe
    J("safe_marks", "{% autoescape true %}{{{ '<b>'|safe }}}{{{ '<b>' }}}{% endautoescape %}"),
    # slice
    J(
        "slice_columns",
        "{% for col in [1, 2, 3, 4, 5, 6, 7]|slice(3) %}{{{ col|join(',') }}};{% endfor %}",
    ),
    J("slice_fill", "{% for col in [1, 2, 3, 4]|slice(3, 0) %}{{{ col|join(',') }}};{% endfor %}"),
    # sort
    J("sort_numbers", "{{{ nums|sort|join(',') }}}", CTX),
    J("sort_strings_case_insensitive", "{{{ words|sort|join(',') }}}", CTX),
    J("sort_case_sensitive", "{{{ words|sort(case_sensitive=true)|join(',') }}}", CTX),
    J("sort_reverse", "{{{ nums|sort(reverse=true)|join(',') }}}", CTX),
    J("sort_attribute", "{{{ users|sort(attribute='age')|map(attribute='name')|join(',') }}}", CTX),
    J(
        "sort_attribute_multi",
        "{{{ users|sort(attribute='age,name')|map(attribute='name')|join(',') }}}",
        CTX,
    ),
    J("sort_stable", "{{{ ['b', 'A', 'a', 'B']|sort|join }}}"),
    # split (not in Jinja2)
    E("split_whitespace", "{{{ '  a  b c '|split|join('|') }}}", "a|b|c", "extra"),
    E("split_separator", "{{{ 'a,b,,c'|split(',')|join('|') }}}", "a|b||c", "extra"),
    E("split_maxsplit", "{{{ 'a,b,c'|split(',', 1)|join('|') }}}", "a|b,c", "extra"),
    # string
    J("string_of_int", "{{{ (1|string) ~ (2|string) }}}"),
    J("string_length", "{{{ 12345|string|length }}}"),
    E("string_of_list", "{{{ [1, 'a']|string }}}", '[1, "a"]', "display"),
    E("string_of_bool", "{{{ false|string }}}", "false", "display"),
    # sum
    J("sum_numbers", "{{{ nums|sum }}}", CTX),
    J("sum_start", "{{{ [1, 2]|sum(start=10) }}}"),
    J("sum_attribute", "{{{ users|sum(attribute='age') }}}", CTX),
    J("sum_floats", "{{{ [0.5, 0.25]|sum }}}"),
    J("sum_empty", "{{{ []|sum }}}"),
    # title
    J("title_words", "{{{ 'hello big world'|title }}}"),
    J("title_punctuation", '{{{ "it\'s a dog-eat-dog (world)"|title }}}'),
    J("title_mixed_case", "{{{ 'hELLO wORLD'|title }}}"),
    # tojson
    J("tojson_string", "{{{ 'a\"b'|tojson }}}"),
    J("tojson_number", "{{{ 42|tojson }}}"),
    J("tojson_indent", "{{{ {'a': 1, 'b': [1, 'x'], 'c': {}}|tojson(indent=2) }}}"),
    J("tojson_html_chars", "{{{ \"<a href='x'>&</a>\"|tojson }}}"),
    J("tojson_unicode", "{{{ 'é'|tojson }}}"),
    J("tojson_map", "{{{ {'b': [1, 2], 'a': none}|tojson }}}"),
    J("tojson_bool", "{{{ [true, false]|tojson }}}"),
    J("tojson_context", "{{{ user|tojson }}}", CTX),
    # trim
    J("trim_default", "[{{{ text|trim }}}]", CTX),
    J("trim_chars", "{{{ 'xxhixx'|trim('x') }}}"),
    J("trim_newlines", "[{{{ '\n\t a \n'|trim }}}]"),
    # unique
    J("unique_case_insensitive", "{{{ words|unique|join(',') }}}", CTX),
    J("unique_case_sensitive", "{{{ words|unique(case_sensitive=true)|join(',') }}}", CTX),
    J("unique_numbers", "{{{ nums|unique|join(',') }}}", CTX),
    J(
        "unique_attribute",
        "{{{ users|unique(attribute='role')|map(attribute='name')|join(',') }}}",
        CTX,
    ),
    # urlencode
    J("urlencode_string", "{{{ 'a b&c/d?e=é'|urlencode }}}"),
    J("urlencode_map", "{{{ {'q': 'x y', 'n': 1}|urlencode }}}"),
    J("urlencode_pairs", "{{{ [['a', 'b c'], ['d', '&']]|urlencode }}}"),
    # wordcount
    J("wordcount", "{{{ 'hello big   world'|wordcount }}} {{{ ''|wordcount }}}"),
    J("wordcount_punctuation", '{{{ "it\'s one-two, three."|wordcount }}}'),
    # Filter errors.
    X("filter_unknown", "{{{ 'a'|nosuchfilter }}}", "unknown filter"),
    X("filter_unknown_line", "a\n\n{{{ 'a'|nosuchfilter }}}", "unknown filter", line=3),
    X("filter_unknown_in_block", "{% filter nosuch %}x{% endfilter %}", "unknown filter"),
    X("filter_too_many_args", "{{{ 'a'|upper(1, 2, 3) }}}", "too many arguments"),
    X("filter_missing_arg", "{{{ 'a'|replace('a') }}}", "missing argument"),
    X("filter_round_bad_method", "{{{ 2.5|round(0, 'sideways') }}}", "invalid operation"),
]

# Corners where engines tend to part ways.
CASES += [
    J("round_int_precision", "{{{ 42|round(1) }}} {{{ 7|round(0, 'floor') }}}"),
    J("round_binary_half", "{{{ 2.675|round(2) }}} {{{ 1.005|round(2) }}}"),
    J("round_keywords", "{{{ 3.14159|round(precision=1, method='floor') }}}"),
    J("int_spaces", "{{{ '  42  '|int }}} {{{ ' 2.5 '|float }}}"),
    J(
        "int_default_for_unparsable",
        "{{{ ''|int(5) }}} {{{ ' '|int(3) }}} {{{ '-'|int(9) }}} "
        "{{{ '12abc'|int(1) }}} {{{ 'nan'|int(4) }}}",
    ),
    J(
        "float_default_for_unparsable",
        "{{{ ''|float(1.5) }}} {{{ '.'|float(2.5) }}} {{{ '1.5.2'|float(1.0) }}}",
    ),
    J(
        "int_float_notations",
        "{{{ '+5'|int }}} {{{ '1e3'|int }}} {{{ '0x10'|int }}} {{{ '1_000'|int }}}",
    ),
    J("format_hex_exp", "{{{ '%x %o %e %.3s'|format(255, 8, 12345.678, 'abcdef') }}}"),
    J("format_mapping", "{{{ '%(a)s-%(b)d'|format(a='x', b=2) }}}"),
    J("urlencode_number", "{{{ 12|urlencode }}}"),
    J("lower_upper_unicode", "{{{ 'ÀÉÎ'|lower }}} {{{ 'àéî'|upper }}} {{{ 'éa'|capitalize }}}"),
    J("reverse_unicode", "{{{ 'äbç'|reverse }}}"),
    J("slice_more_slices_than_items", "{% for s in [1, 2]|slice(3) %}[{{{ s|join }}}]{% endfor %}"),
    J(
        "batch_keywords",
        "{% for b in [1, 2, 3]|batch(linecount=2, fill_with='-') %}{{{ b|join }}};{% endfor %}",
    ),
    J(
        "sort_attribute_reverse",
        "{{{ users|sort(attribute='name', reverse=true)|map(attribute='name')|join }}}",
        CTX,
    ),
    J("max_mixed_numbers", "{{{ [1, 2.5, 2]|max }}} {{{ [1, 2.5, -3]|min }}}"),
    J("sum_float_start", "{{{ [1, 2]|sum(start=0.5) }}}"),
    J("first_of_map", "{{{ user|first }}} [{{{ {}|first }}}]", CTX),
    J(
        "join_safe_strings",
        "{% autoescape true %}{{{ ['<a>'|safe, '<b>']|join(', ') }}}{% endautoescape %}",
    ),
    J(
        "replace_on_safe",
        "{% autoescape true %}{{{ '<a>'|safe|replace('a', '<i>') }}}{% endautoescape %}",
    ),
    J("indent_first_blank", "{{{ 'a\n\nb'|indent(3, first=true, blank=true) }}}"),
    J("map_default_filter_args", "{{{ [none, 'x']|map('default', 'd', true)|join }}}"),
    J("unique_mixed_types", "{{{ [1, '1', 1, 'a', 'A']|unique|join(',') }}}"),
    J("wordcount_unicode", "{{{ 'grüße aus köln'|wordcount }}}"),
    J("title_unicode", "{{{ 'élan vital'|title }}}"),
    J("trim_unicode_space", "[{{{ '\u00a0 x \u3000'|trim }}}]"),
    J("length_of_range", "{{{ range(3, 30, 4)|length }}}"),
    X("filter_int_too_many", "{{{ '1'|int(1, 2, 3) }}}", "too many arguments"),
    X("function_range_no_args", "{{{ range() }}}", "missing argument"),
]
