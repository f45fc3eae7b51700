// Property tests: the output of each escape reads back through a real parser of the target
// language as the text that went in. Random texts are drawn (with a fixed seed) from the
// characters that escapes get wrong: every C0 control, U+007F to U+009F, line and paragraph
// separators, U+FEFF, noncharacters, astral characters and each format's own markers.
#include <expat.h>
#include <gtest/gtest.h>
#include <toml++/toml.h>
#include <yaml.h>

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "korvel/escape_format.hpp"
#include "korvel/json/value.hpp"
#include "korvel/renderer.hpp"
#include "korvel/safety_filters.hpp"
#include "korvel/text/utf8.hpp"

namespace {

using CodePoints = std::vector<char32_t>;

std::string encode(const CodePoints& cps) {
  std::string out;
  for (const char32_t cp : cps) korvel::text::append_utf8(cp, out);
  return out;
}

// The characters the random texts are made of.
CodePoints alphabet() {
  CodePoints a;
  for (char32_t c = 0; c <= 0x20; ++c) a.push_back(c);
  for (const char c : std::string_view("\"\\'&<>]/|-.:#{}[],!%@`*?=aZ09")) a.push_back(c);
  for (char32_t c = 0x7F; c <= 0xA0; ++c) a.push_back(c);
  for (const char32_t c : {0x00E9, 0x20AC, 0x1680, 0x2028, 0x2029, 0x3000, 0xD7FF, 0xE000, 0xFEFF,
                           0xFFFD, 0xFFFE, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF}) {
    a.push_back(c);
  }
  return a;
}

// Every character of the alphabet alone, then random texts, some seeded with "]]>", "\r\n".
std::vector<CodePoints> sample_texts() {
  const CodePoints a = alphabet();
  std::vector<CodePoints> texts;
  texts.push_back({});
  for (const char32_t c : a) texts.push_back({c});
  texts.push_back({']', ']', '>'});
  texts.push_back({']', ']', ']', '>', '\r', '\n', '\r'});
  std::mt19937 rng(20261211);
  std::uniform_int_distribution<std::size_t> pick(0, a.size() - 1);
  std::uniform_int_distribution<int> length(1, 24);
  for (int n = 0; n < 3000; ++n) {
    CodePoints t;
    const int len = length(rng);
    for (int i = 0; i < len; ++i) {
      t.push_back(a[pick(rng)]);
      if (pick(rng) % 16 == 0) t.insert(t.end(), {']', ']', '>'});
    }
    texts.push_back(std::move(t));
  }
  return texts;
}

const std::vector<CodePoints>& texts() {
  static const std::vector<CodePoints> all = sample_texts();
  return all;
}

std::string printable(const std::string& s) {
  std::string out;
  for (const unsigned char c : s) {
    if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// What XML can carry of a text: characters outside XML 1.0's Char production become U+FFFD.
std::string xml_representable(const CodePoints& cps) {
  CodePoints out;
  for (const char32_t c : cps) {
    const bool forbidden =
        (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF;
    out.push_back(forbidden ? 0xFFFD : c);
  }
  return encode(out);
}

// ----- oracles -----

std::optional<std::string> toml_read_string(const std::string& doc) {
  try {
    const toml::table table = toml::parse(doc);
    if (const auto v = table["k"].value<std::string>()) return *v;
  } catch (const toml::parse_error&) {
  }
  return std::nullopt;
}

std::optional<std::string> json_read_string(const std::string& doc) {
  const nlohmann::json j = nlohmann::json::parse(doc, nullptr, /*allow_exceptions=*/false);
  if (!j.is_string()) return std::nullopt;
  return j.get<std::string>();
}

// The value of the only scalar in a YAML document, or nullopt when the document does not parse.
std::optional<std::string> yaml_read_value(const std::string& doc, const std::string& key) {
  yaml_parser_t parser;
  if (!yaml_parser_initialize(&parser)) return std::nullopt;
  const std::unique_ptr<yaml_parser_t, void (*)(yaml_parser_t*)> guard(&parser, yaml_parser_delete);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(doc.data()),
                               doc.size());
  std::vector<std::string> scalars;
  for (;;) {
    yaml_event_t event;
    if (!yaml_parser_parse(&parser, &event)) return std::nullopt;
    const std::unique_ptr<yaml_event_t, void (*)(yaml_event_t*)> event_guard(&event,
                                                                             yaml_event_delete);
    if (event.type == YAML_SCALAR_EVENT) {
      scalars.emplace_back(reinterpret_cast<const char*>(event.data.scalar.value),
                           event.data.scalar.length);
    }
    if (event.type == YAML_STREAM_END_EVENT) break;
  }
  if (scalars.size() != 2 || scalars[0] != key) return std::nullopt;
  return scalars[1];
}

struct XmlRead {
  std::string text;
  std::string attribute;
  friend bool operator==(const XmlRead&, const XmlRead&) = default;
};

std::optional<XmlRead> xml_read(const std::string& doc) {
  const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate("UTF-8"),
                                                                       XML_ParserFree);
  if (!parser) return std::nullopt;
  XmlRead read;
  XML_SetUserData(parser.get(), &read);
  XML_SetCharacterDataHandler(parser.get(), [](void* user, const XML_Char* s, int len) {
    static_cast<XmlRead*>(user)->text.append(s, static_cast<std::size_t>(len));
  });
  XML_SetStartElementHandler(parser.get(), [](void* user, const XML_Char*, const XML_Char** attrs) {
    for (std::size_t i = 0; attrs[i] != nullptr; i += 2) {
      static_cast<XmlRead*>(user)->attribute += attrs[i + 1];
    }
  });
  if (XML_Parse(parser.get(), doc.data(), static_cast<int>(doc.size()), 1) != XML_STATUS_OK) {
    return std::nullopt;
  }
  return read;
}

// ----- properties -----
// The oracles refuse or change what the escapes must not leave raw; without this the properties
// below could pass on a parser that accepts anything.
TEST(EscapeOracle, OraclesRejectRawCharactersThatNeedEscaping) {
  EXPECT_EQ(toml_read_string("k = \"a\x7f\"\n"), std::nullopt);
  EXPECT_EQ(toml_read_string("k = \"a\x01\"\n"), std::nullopt);
  EXPECT_EQ(json_read_string("\"a\x01\""), std::nullopt);
  EXPECT_EQ(yaml_read_value("k: \"a\x01\"\n", "k"), std::nullopt);
  EXPECT_EQ(yaml_read_value("k: \"a\xC2\x80\"\n", "k"), std::nullopt);
  // Line breaks inside double quotes: U+0085 folds to a space, and U+2028 drops the space
  // before it.
  EXPECT_EQ(yaml_read_value("k: \"a\xC2\x85"
                            "b\"\n",
                            "k"),
            "a b");
  EXPECT_EQ(yaml_read_value("k: \"a \xE2\x80\xA8"
                            "b\"\n",
                            "k"),
            "a\xE2\x80\xA8"
            "b");
  EXPECT_EQ(xml_read("<r>\x01</r>"), std::nullopt);
  EXPECT_EQ(xml_read("<r>\xEF\xBF\xBE</r>"), std::nullopt);
  const auto read = xml_read("<r a=\"x\ty\nz\">\r</r>");
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->attribute, "x y z");
  EXPECT_EQ(read->text, "\n");
}

TEST(EscapeOracle, TomlBasicStringReadsBackAsTheSameText) {
  for (const auto& cps : texts()) {
    const std::string text = encode(cps);
    std::string doc = "k = \"";
    korvel::detail::append_toml_basic_escaped(text, doc);
    doc += "\"\n";
    EXPECT_EQ(toml_read_string(doc), text) << printable(doc);
  }
}

TEST(EscapeOracle, JsonLegacyStringReadsBackAsTheSameText) {
  for (const auto& cps : texts()) {
    const std::string text = encode(cps);
    std::string doc = "\"";
    korvel::detail::append_json_string_escaped(text, doc);
    doc += "\"";
    EXPECT_EQ(json_read_string(doc), text) << printable(doc);
  }
}

TEST(EscapeOracle, YamlSafeReadsBackAsTheSameText) {
  for (const auto& cps : texts()) {
    const std::string text = encode(cps);
    const std::string scalar = korvel::detail::yaml_safe_text(text);
    EXPECT_EQ(yaml_read_value("k: " + scalar + "\n", "k"), text) << printable(scalar);
    EXPECT_EQ(yaml_read_value("- {k: " + scalar + "}\n", "k"), text) << printable(scalar);
  }
}

TEST(EscapeOracle, XmlCharSafeReadsBackAsTextAndAsAttributeValue) {
  for (const auto& cps : texts()) {
    const std::string safe = korvel::xml_char_safe_string(encode(cps));
    const std::string expected = xml_representable(cps);
    const auto double_quoted = xml_read("<r a=\"" + safe + "\">" + safe + "</r>");
    ASSERT_TRUE(double_quoted.has_value()) << printable(safe);
    EXPECT_EQ(double_quoted->text, expected) << printable(safe);
    EXPECT_EQ(double_quoted->attribute, expected) << printable(safe);
    const auto single_quoted = xml_read("<r a='" + safe + "'/>");
    ASSERT_TRUE(single_quoted.has_value()) << printable(safe);
    EXPECT_EQ(single_quoted->attribute, expected) << printable(safe);
  }
}

TEST(EscapeOracle, CdataEscapeReadsBackInsideACdataSection) {
  for (const auto& cps : texts()) {
    const std::string inner = korvel::detail::cdata_escape_text(encode(cps));
    const auto read = xml_read("<r><![CDATA[" + inner + "]]></r>");
    ASSERT_TRUE(read.has_value()) << printable(inner);
    EXPECT_EQ(read->text, xml_representable(cps)) << printable(inner);
  }
}

// ----- the same properties through whole renderings: formatter and filters as wired -----

std::string render(std::string_view name, std::string_view source, const std::string& value,
                   korvel::EscapeMode mode) {
  const auto renderer = korvel::Renderer::with_delimiters_and_escape_mode("{{{", "}}}", mode);
  if (!renderer) return "<no renderer>";
  const auto out =
      renderer->render_named(name, source, korvel::json::Object{{"v", korvel::json::Value(value)}});
  return out ? *out : "<error: " + out.error().message() + ">";
}

TEST(RenderOracle, EveryFormatReadsBackThroughItsParser) {
  using korvel::EscapeMode;
  for (const auto& cps : texts()) {
    const std::string text = encode(cps);
    const std::string toml =
        render("f.formula.toml.j2", "k = \"{{{ v }}}\"\n", text, EscapeMode::Toml);
    EXPECT_EQ(toml_read_string(toml), text) << printable(toml);
    const std::string legacy =
        render("f.formula.json.j2", "\"{{{ v }}}\"", text, EscapeMode::LegacyJson);
    EXPECT_EQ(json_read_string(legacy), text) << printable(legacy);
    const std::string standard =
        render("f.formula.json.j2", "{{{ v }}}", text, EscapeMode::Standard);
    EXPECT_EQ(json_read_string(standard), text) << printable(standard);
    const std::string yaml =
        render("f.yaml.j2", "k: {{{ v | yaml_safe }}}\n", text, EscapeMode::Standard);
    EXPECT_EQ(yaml_read_value(yaml, "k"), text) << printable(yaml);
    const std::string xml = render(
        "f.xml.j2",
        "<r a=\"{{{ v }}}\"><![CDATA[{{{ v | cdata_escape }}}]]>{{{ v | xml_char_safe }}}</r>",
        text, EscapeMode::Standard);
    const auto read = xml_read(xml);
    ASSERT_TRUE(read.has_value()) << printable(xml);
    EXPECT_EQ(read->attribute, xml_representable(cps)) << printable(xml);
    EXPECT_EQ(read->text, xml_representable(cps) + xml_representable(cps)) << printable(xml);
  }
}

}  // namespace
