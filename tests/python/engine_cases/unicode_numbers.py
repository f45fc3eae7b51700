"""Text in more scripts than ASCII, and numbers at the edges of their kinds, through the filters
that must count characters (not bytes) and convert numbers exactly."""

from . import E, J

CASES = [
    # Widths and precisions count characters.
    J("format_width_unicode", "[{{{ '%5s|%-3s|%.2s'|format('é', '日本', '日本語') }}}]"),
    J("percent_width_unicode", "[{{{ '%4s' % 'ü' }}}]"),
    J("urlencode_unreserved", "{{{ 'a~b_c.d-e f/g'|urlencode }}}"),
    J("replace_unicode_count", "{{{ 'ééé'|replace('é', 'e', 2) }}}"),
    J("sort_unicode_case_insensitive", "{{{ ['É', 'e', 'f', 'E']|sort|join(',') }}}"),
    J(
        "capitalize_title_unicode",
        "{{{ 'ÉCOLE'|capitalize }}} {{{ '1st place'|title }}} {{{ 'ǆemal'|capitalize }}}",
    ),
    J("upper_ligature", "{{{ 'ﬁx'|upper }}} {{{ 'ǆ'|title }}}"),
    J("wordcount_dash", "{{{ 'a—b c'|wordcount }}}"),
    J("trim_several_chars", "{{{ 'xyaxy'|trim('xy') }}}"),
    J("indent_crlf", "{{{ 'a\\r\\nb\\nc'|indent(2) }}}"),
    J("int_unicode_digits", "{{{ '٣٤'|int }}}"),
    J(
        "float_spellings",
        "{{{ '1_000.5'|float }}} {{{ ' 1e3 '|float }}} {{{ 'infinity'|float }}} "
        "{{{ '-inf'|float }}}",
    ),
    # Numbers at the edges.
    J("abs_negative_zero", "{{{ -0.0|abs }}}"),
    J("round_half_even_negative", "{{{ -0.5|round }}} {{{ -0.4|round }}} {{{ -2.5|round }}}"),
    J("int_of_large_float", "{{{ 1e30|int }}} {{{ -1e30|int }}} {{{ 1.5e20|int }}}"),
    J(
        "int_boundaries",
        "{{{ 18446744073709551615 + 1 }}} {{{ -9223372036854775808 // -1 }}} "
        "{{{ 170141183460469231731687303715884105727 }}}",
    ),
    J("sum_float_fold", "{{{ [0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1]|sum }}}"),
    J("max_min_ties", "{{{ ['a', 'A']|max }}} {{{ ['A', 'a']|max }}} {{{ ['b', 'B']|min }}}"),
    J(
        "groupby_case_insensitive",
        "{% for k, g in [{'n': 'a'}, {'n': 'A'}, {'n': 'b'}]"
        "|groupby('n') %}{{{ k }}}{{{ g|length }}} {% endfor %}",
    ),
    J(
        "groupby_case_sensitive",
        "{% for k, g in [{'n': 'a'}, {'n': 'A'}, {'n': 'b'}]"
        "|groupby('n', case_sensitive=true) %}{{{ k }}}{{{ g|length }}} {% endfor %}",
    ),
    J(
        "select_more_tests",
        "{{{ [1, none, 'a']|select('sameas', none)|list|length }}} "
        "{{{ [1, 2, 3]|select('in', [2, 3])|join }}} {{{ [{'a': {'b': 1}}, {'a': {}}]"
        "|selectattr('a.b')|list|length }}}",
    ),
    J(
        "selectattr_defined",
        "{{{ [{'x': 1}, {}]|selectattr('x', 'defined')|list|length }}} "
        "{{{ [{'x': 1}, {}]|rejectattr('x', 'defined')|list|length }}}",
    ),
    J(
        "attr_on_namespace_and_loop",
        "{% set ns = namespace(a='n') %}{{{ ns|attr('a') }}}"
        "{% for i in [1] %}{{{ loop|attr('index') }}}{% endfor %}",
    ),
    J("tojson_floats", "{{{ [1e16, 0.1, 1.0, -0.0, 0.0001]|tojson }}}"),
    # The engine's JSON text: plain notation down to 1e-5, exponents without leading zeros.
    E("tojson_small_floats", "{{{ [1e-5, 1.5e-7]|tojson }}}", "[0.00001, 1.5e-7]", "float"),
    E("tojson_non_finite", "{{{ ['inf'|float, 'nan'|float]|tojson }}}", "[null, null]", "float"),
]
