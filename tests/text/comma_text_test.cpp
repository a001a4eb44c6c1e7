#include "text/comma_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kelconv {
namespace {

using namespace std::string_literals;

std::vector<std::string> Split(std::string_view line) {
  LineList fields;
  fields.Add("left over from before");
  SplitCommaText(line, LeadBytes::Cp932(), fields);
  std::vector<std::string> result;
  for (int i = 0; i < fields.Count(); ++i) result.emplace_back(fields.Get(i));
  return result;
}

TEST(CommaTextTest, SplitsLinesIntoFields) {
  struct Case {
    std::string line;
    std::vector<std::string> fields;
  };
  const Case kCases[] = {
      {"a,b", {"a", "b"}},
      {"a,,b", {"a", "", "b"}},
      {",a", {"", "a"}},
      {"a,", {"a"}},
      {"a,,", {"a", ""}},
      {",", {""}},
      {",,", {"", ""}},
      {" , ", {""}},
      {"a b", {"a", "b"}},
      {"  a  ,  b  ", {"a", "b"}},
      {"a ,, b", {"a", "", "b"}},
      {"a, ,b", {"a", "", "b"}},
      {"", {}},
      {"   ", {}},
      {"\ta\t", {"a"}},
      {"\x01"
       "a\x1F"
       "b\x20"
       "c",
       {"a", "b", "c"}},
      {"x\x7Fy,z", {"x\x7Fy", "z"}},
      {"\"a,b\",c", {"a,b", "c"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"a\"b,c", {"a", "b", "c"}},
      {"\"a\" \"b\"", {"a", "b"}},
      {"\"a\" ,, b", {"a", "", "b"}},
      {"a\"b\",c", {"a\"b\"", "c"}},
      {"\" a \"", {" a "}},
      {"\"\"", {""}},
      {"\"\",a", {"", "a"}},
      {"a,\"\"", {"a", ""}},
      {"\"", {""}},
      {"a,\"", {"a", ""}},
      {"\"\"\"a\"", {"\"a"}},
      {"\"\"\"\"", {"\""}},
      {"\"a\"\"\"", {"a\""}},
      {"\"a", {"a"}},
      {"\"ab", {"ab"}},
      {"\"a,b", {"a,b"}},
      {"\"a\"\"b", {"a\"b"}},
      {"\"a\"\"", {"a\""}},
      {"\x95\x5C,\x82\xA0", {"\x95\x5C", "\x82\xA0"}},
      {"\"\x95\x5C,\x82\xA0\"", {"\x95\x5C,\x82\xA0"}},
      // A lead byte takes the next byte along, whatever it is.
      {"a\x81,b", {"a\x81,b"}},
      {"\"\x81\"x", {"\x81\"x"}},
      {"a\x81 b", {"a\x81 b"}},
      {"a\x81", {"a\x81"}},  // a lead byte at the end is a character by itself
      {"\"a\x81", {"a\x81"}},
      {"APP = x", {"APP", "=", "x"}},
      {"APP= x", {"APP=", "x"}},
      {"APP =x", {"APP", "=x"}},
      {"\"APP = x\"", {"APP = x"}},
      // A NUL ends the line.
      {"a,b\0,c"s, {"a", "b"}},
      {"\"a\0b\""s, {"a"}},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.fields, Split(c.line)) << ::testing::PrintToString(c.line);
  }
}

TEST(CommaTextTest, LooksUpNamedValues) {
  struct Case {
    std::string line;
    std::string app;
    std::string ver;
  };
  const Case kCases[] = {
      {"APP=Kelvado,VER=1.00", "Kelvado", "1.00"},
      {"app=Kelvado,Ver=1.00", "Kelvado", "1.00"},
      {"\"APP=Kelvado\",\"VER=2.00\"", "Kelvado", "2.00"},
      {"APP=Kelvado VER=1.00", "Kelvado", "1.00"},
      {"APP=Kelvado,VER=1.00,", "Kelvado", "1.00"},
      {"app=AbC", "AbC", ""},
      {"APP = Kelvado", "", ""},
      {"APP= Kelvado", "", ""},
      {"APP =Kelvado", "", ""},
      {"\"APP =Kelvado\"", "", ""},
      {"\"APP= Kelvado\"", " Kelvado", ""},
      {"APP=\"Kelvado\"", "\"Kelvado\"", ""},
      {"\"APP\"=Kelvado", "", ""},
      {"APP=x,APP=y", "x", ""},
      {"app=x,APP=y", "x", ""},
      {"APP=,APP=x", "", ""},
      {"APP,VER", "", ""},
      {"=Kelvado", "", ""},
      {"APP=a=b", "a=b", ""},
      {"APPX=Kelvado,AP=x", "", ""},
      {"VER=1.00", "", "1.00"},
      {"", "", ""},
      // The equals sign is looked for in characters: a trail byte "=" does not count.
      {"\x81=APP=x", "", ""},
      {"\x82\x60PP=x", "", ""},  // a full-width letter is another name
  };
  for (const Case& c : kCases) {
    LineList fields;
    SplitCommaText(c.line, LeadBytes::Cp932(), fields);
    const int count = fields.Count();
    EXPECT_EQ(c.app, LookupNamedValue(fields, "APP", LeadBytes::Cp932())) << c.line;
    EXPECT_EQ(c.ver, LookupNamedValue(fields, "VER", LeadBytes::Cp932())) << c.line;
    EXPECT_EQ(count, fields.Count()) << c.line;
  }
}

TEST(CommaTextTest, QuotesFieldsWithTheirDoubleQuotesDoubled) {
  struct Case {
    std::string field;
    std::string quoted;
  };
  const Case kCases[] = {
      {"", "\"\""},
      {"c d", "\"c d\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"\"", "\"\"\"\""},
      {"\x83\x5C,\x82\xA0", "\"\x83\x5C,\x82\xA0\""},
      {"\x81\"", "\"\x81\"\""},  // the quote is a second byte, not a character of its own
  };
  for (const Case& c : kCases) {
    std::string out;
    AppendQuotedField(c.field, LeadBytes::Cp932(), out);
    EXPECT_EQ(c.quoted, out) << c.field;
  }
}

// Random fields of valid code page 932 text, rich in the bytes that matter to comma text.
std::string RandomField(std::mt19937& random) {
  static const std::string kSingles = "\"\", =\tabcAPP\x7F\xA1\xB1\xDF";
  std::string field;
  const int length = static_cast<int>(random() % 8);
  for (int i = 0; i < length; ++i) {
    switch (random() % 3) {
      case 0:
        field += kSingles[random() % kSingles.size()];
        break;
      case 1: {  // a double-byte character, trail bytes from both ranges
        const auto lead = random() % 2 ? 0x81 + random() % 31 : 0xE0 + random() % 29;
        const auto trail = random() % 2 ? 0x40 + random() % 63 : 0x80 + random() % 125;
        field += static_cast<char>(lead);
        field += static_cast<char>(trail);
        break;
      }
      default:
        field += static_cast<char>('0' + random() % 10);
    }
  }
  return field;
}

TEST(CommaTextTest, QuotedFieldsSplitBackIntoTheSameFields) {
  std::mt19937 random(20261211);
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::string> fields(random() % 5 + 1);
    for (auto& field : fields) field = RandomField(random);
    std::string line;
    for (const auto& field : fields) {
      if (!line.empty()) line += ',';
      AppendQuotedField(field, LeadBytes::Cp932(), line);
    }
    ASSERT_EQ(fields, Split(line)) << ::testing::PrintToString(line);
  }
}

// What WriteQuotedFields must give: the line split, each field quoted, joined by commas.
std::string SplitAndQuote(std::string_view line) {
  LineList fields;
  SplitCommaText(line, LeadBytes::Cp932(), fields);
  std::string out;
  for (int i = 0; i < fields.Count(); ++i) {
    if (i > 0) out += ',';
    AppendQuotedField(fields.Get(i), LeadBytes::Cp932(), out);
  }
  return out;
}

std::string WriteQuoted(std::string_view line) {
  std::string out(QuotedFieldsSizeLimit(line.size()), '?');
  out.resize(static_cast<std::size_t>(WriteQuotedFields(line, LeadBytes::Cp932(), out.data()) -
                                      out.data()));
  return out;
}

TEST(CommaTextTest, WritesFieldsQuotedInOnePass) {
  struct Case {
    std::string line;
    std::string quoted;
  };
  const Case kCases[] = {
      {"", ""},
      {" \t ", ""},
      {"a,b", "\"a\",\"b\""},
      {",,", "\"\",\"\""},
      {" a ,, b ", "\"a\",\"\",\"b\""},
      {"\"a,b\"c", "\"a,b\",\"c\""},
      {"\"a\"\"b\"", "\"a\"\"b\""},
      {"a\"b\",c", "\"a\"\"b\"\"\",\"c\""},
      {"\"", "\"\""},
      {"\"ab", "\"ab\""},
      {"\x95\x5C,\x82\xA0", "\"\x95\x5C\",\"\x82\xA0\""},
      {"a\x81,b", "\"a\x81,b\""},          // a lead byte takes the comma along
      {"\"\x81\"x", "\"\x81\"x\""},        // and the quote that would close
      {"\"\x81\"\"\"", "\"\x81\"\"\"\""},  // a lead byte before a doubled quote
      {"a\x81", "\"a\x81\""},              // a lead byte that ends the line
      {"x\x81\"\"", "\"x\x81\"\"\"\""},    // unquoted: only the quote that begins a
                                           // character is doubled
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.quoted, WriteQuoted(c.line)) << ::testing::PrintToString(c.line);
    EXPECT_EQ(SplitAndQuote(c.line), WriteQuoted(c.line)) << ::testing::PrintToString(c.line);
  }
}

// Any bytes but NUL, valid code page 932 or not, with the bytes that matter to comma text
// and lead bytes in plenty.
TEST(CommaTextTest, WritesFieldsQuotedAsSplittingAndQuotingDo) {
  static const std::string kBytes =
      "\"\"\",,,  \t\r\x01\x1F=ab\x7F\x80\x81\x9F\xA0\xE0\xFC\xFD\xFF";
  std::mt19937 random(20261212);
  for (int round = 0; round < 100000; ++round) {
    // Every fourth line is longer, with runs of plain text between the bytes that matter,
    // as the searches that look at many bytes at once meet them.
    const bool is_long = round % 4 == 0;
    std::string line(is_long ? random() % 80 : random() % 12, ' ');
    for (char& c : line) {
      if (is_long && random() % 6 != 0) {
        c = random() % 3 == 0 ? '\x82' : 'a';  // \x82 is a lead byte
      } else {
        c = random() % 8 == 0 ? static_cast<char>(1 + random() % 255)
                              : kBytes[random() % kBytes.size()];
      }
    }
    ASSERT_EQ(SplitAndQuote(line), WriteQuoted(line)) << ::testing::PrintToString(line);
    ASSERT_LE(WriteQuoted(line).size(), QuotedFieldsSizeLimit(line.size()));
  }
}

}  // namespace
}  // namespace kelconv
