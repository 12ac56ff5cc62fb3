// The VM-independent parts of the XML trace profiler: options, filters, identifier sets,
// time text, host addresses and record escaping.
#include "xt_core.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <algorithm>
#include <vector>

#include "xml_check.h"

namespace {

struct Parsed {
  bool ok;
  xt::ProfileOptions options;
  std::string copy;
};

Parsed parse(const char* text) {
  Parsed p;
  p.copy = text;
  p.copy.push_back('\0');
  p.ok = xt::parseOptions(&p.copy[0], &p.options);
  return p;
}

TEST(XmlTraceOptions, AcceptsOutputsAndValues) {
  Parsed p = parse("stderr,mode=memory,filters=my filters.txt");
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(p.options.toStderr);
  EXPECT_TRUE(p.options.noExecutionEvents);
  EXPECT_FALSE(p.options.noMemoryEvents);
  EXPECT_STREQ(p.options.filtersFile, "my filters.txt");  // blanks are kept

  p = parse("file=/tmp/out.xml,mode=execution");
  ASSERT_TRUE(p.ok);
  EXPECT_STREQ(p.options.fileName, "/tmp/out.xml");
  EXPECT_TRUE(p.options.noMemoryEvents);
  EXPECT_STREQ(p.options.filtersFile, "filters.txt");

  p = parse("server=10.0.0.1:4711,mode=all");
  ASSERT_TRUE(p.ok);
  EXPECT_STREQ(p.options.serverHost, "10.0.0.1");
  EXPECT_STREQ(p.options.serverPort, "4711");
  EXPECT_FALSE(p.options.noMemoryEvents);
  EXPECT_FALSE(p.options.noExecutionEvents);

  p = parse("server=host:80:90");  // cut at the first colon
  ASSERT_TRUE(p.ok);
  EXPECT_STREQ(p.options.serverHost, "host");
  EXPECT_STREQ(p.options.serverPort, "80:90");

  p = parse("mode=memory,mode=nonsense,quiet");  // the last mode wins, unknown means all
  ASSERT_TRUE(p.ok);
  EXPECT_FALSE(p.options.noExecutionEvents);
  EXPECT_TRUE(p.options.quiet);
}

TEST(XmlTraceOptions, RejectsBadOrOutputlessStrings) {
  const char* bad[] = {
      "",                      // no output
      "mode=execution",        // no output
      "filters=f.txt",         // no output
      "server=localhost",      // no port: not an output
      "Stderr",                // case-sensitive
      "stderr,",               // empty piece
      "stderr, quiet",         // blanks are not stripped
      "stderr,verbose",        // unknown
      "file",                  // no '='
  };
  for (const char* text : bad) EXPECT_FALSE(parse(text).ok) << text;
  EXPECT_TRUE(parse("help").ok);
  EXPECT_TRUE(parse("filters-help").ok);
  EXPECT_TRUE(parse("file=").ok);  // an empty file name is an output; opening it fails later
}

TEST(XmlTraceOptions, HelpTextsLineByLine) {
  std::string options = xt::kOptionsText;
  EXPECT_EQ(options.find("Options:\nhelp\tDisplay this message.\n\nserver=<ip>:<port>\t"), 0u);
  EXPECT_NE(options.find("\nquiet \t\t\tMake no I/O actions.\n\nmode={all,memory,execution}\t(default: \"all\")\n"),
            std::string::npos);
  EXPECT_NE(options.find("\nfilters=<filename>\t(default: \"filters.txt\")\n\tBuild filter list from <filename>.\n"
                         "filters-help\tDisplay filters usage message\n\n"),
            std::string::npos);
  EXPECT_EQ(options.size() - options.rfind("usage message"), std::strlen("usage message\n\n"));
  int lines = 0;
  for (char c : options) lines += c == '\n';
  EXPECT_EQ(lines, 17);

  std::string filters = xt::kFiltersText;
  EXPECT_EQ(filters.find("Filters\n~~~~~~~\n"), 0u);
  EXPECT_NE(filters.find("For example:\n\t+ java/lang/String\n\t+ com/zel/k5/k5profiled/test*\n\t- *\n\n"),
            std::string::npos);
  EXPECT_NE(filters.find("(default of \"filters.txt\")\nspecified by the \"filters=\" option."), std::string::npos);
  lines = 0;
  for (char c : filters) lines += c == '\n';
  EXPECT_EQ(lines, 26);
}

// Feeds a text to the filters reader in blocks of at most `block` bytes.
struct TextSource {
  std::string text;
  size_t position = 0;
  intptr_t block = 2048;
};

intptr_t readText(void* context, char* buffer, intptr_t size) {
  auto* s = static_cast<TextSource*>(context);
  if (s->position >= s->text.size()) return -1;
  size_t n = std::min<size_t>({static_cast<size_t>(size), static_cast<size_t>(s->block), s->text.size() - s->position});
  std::memcpy(buffer, s->text.data() + s->position, n);
  s->position += n;
  return static_cast<intptr_t>(n);
}

xt::FilterList filtersFrom(const std::string& text, intptr_t block = 2048) {
  TextSource source{text, 0, block};
  xt::FilterList list;
  EXPECT_TRUE(xt::readFilters(&list, readText, &source));
  return list;
}

TEST(XmlTraceFilters, ReadsTokensAndDerivesPatterns) {
  // Tokens, not lines: a filter may span lines and white space of every kind separates.
  xt::FilterList list = filtersFrom("+ java/lang/String\n-\t*Builder\r\n+\v*lang*\f- com/zel* \n-\n*\n");
  ASSERT_EQ(list.count, 5u);
  struct Want { bool include; const char* needle; xt::MatchMode mode; };
  Want want[] = {{true, "java/lang/String", xt::MatchMode::Exact},
                 {false, "Builder", xt::MatchMode::Suffix},
                 {true, "lang", xt::MatchMode::Substring},
                 {false, "com/zel", xt::MatchMode::Prefix},
                 {false, "", xt::MatchMode::Suffix}};
  for (size_t i = 0; i < list.count; ++i) {
    EXPECT_EQ(list.items[i].include, want[i].include) << i;
    EXPECT_STREQ(list.items[i].needle, want[i].needle) << i;
    EXPECT_EQ(list.items[i].mode, want[i].mode) << i;
  }
  EXPECT_STREQ(list.items[4].name, "*");
  xt::freeFilters(&list);
}

TEST(XmlTraceFilters, ReadingStopsAtTheFirstBadSign) {
  xt::FilterList list = filtersFrom("- java/util/*\n+java/lang/String\n- *\n");
  ASSERT_EQ(list.count, 1u);  // "+java/lang/String" is no sign: the rest is ignored
  EXPECT_STREQ(list.items[0].name, "java/util/*");
  xt::freeFilters(&list);

  list = filtersFrom("");
  EXPECT_EQ(list.count, 0u);
  xt::freeFilters(&list);
}

TEST(XmlTraceFilters, TokensCrossBlockBoundariesAndLongTokensAreCut) {
  // Blocks of 3 bytes cut every token somewhere.
  xt::FilterList list = filtersFrom("+   java/lang/String\n- *\n", 3);
  ASSERT_EQ(list.count, 2u);
  EXPECT_STREQ(list.items[0].name, "java/lang/String");
  xt::freeFilters(&list);

  // A name of 2047 characters is kept whole; one character more is cut, and the cut-off
  // rest is read as the next sign, which ends the list.
  std::string name(2047, 'a');
  list = filtersFrom("+ " + name + "\n- " + name + "b\n+ x\n");
  ASSERT_EQ(list.count, 2u);
  EXPECT_EQ(std::strlen(list.items[1].name), 2047u);
  xt::freeFilters(&list);
}

TEST(XmlTraceFilters, FirstMatchDecides) {
  xt::FilterList list = filtersFrom("+ java/lang/String\n+ com/zel/k5/k5profiled/test*\n- *Impl\n+ *util*\n- *\n");
  struct Case { const char* name; bool included; };
  Case cases[] = {
      {"java/lang/String", true},
      {"java/lang/StringBuilder", false},  // exact only
      {"java/lang/Strin", false},
      {"com/zel/k5/k5profiled/test", true},
      {"com/zel/k5/k5profiled/testing/Main", true},
      {"com/zel/k5/k5profiled/tes", false},
      {"java/util/ListImpl", false},       // the suffix filter comes before the substring one
      {"java/util/HashMap", true},
      {"util", true},
      {"Impl", false},
      {"Object", false},
  };
  for (const Case& c : cases) EXPECT_EQ(xt::classIncluded(list, c.name), c.included) << c.name;
  xt::freeFilters(&list);

  xt::FilterList none;
  EXPECT_TRUE(xt::classIncluded(none, "anything"));  // no filter matches: traced
  list = filtersFrom("- **\n");
  EXPECT_FALSE(xt::classIncluded(list, "x"));  // empty substring needle matches everything
  xt::freeFilters(&list);
  list = filtersFrom("- java/Lang*\n");
  EXPECT_TRUE(xt::classIncluded(list, "java/lang/Object"));  // case-sensitive
  xt::freeFilters(&list);
}

TEST(XmlTraceIdSet, AddContainsRemoveAcrossGrowth) {
  xt::IdSet set;
  EXPECT_FALSE(xt::idSetContains(set, 5));
  EXPECT_TRUE(xt::idSetAdd(&set, 0));
  EXPECT_FALSE(xt::idSetContains(set, 0));  // 0 is never stored
  const uintptr_t base = static_cast<uintptr_t>(0x7f0000000000ull);  // beyond 32 bits
  for (uintptr_t i = 1; i <= 5000; ++i) ASSERT_TRUE(xt::idSetAdd(&set, base + i * 8));
  EXPECT_TRUE(xt::idSetAdd(&set, base + 8));  // present: no change
  EXPECT_EQ(set.used, 5000u);
  EXPECT_FALSE(xt::idSetContains(set, (base + 8) & 0xffffffffu));  // no truncation
  for (uintptr_t i = 1; i <= 5000; i += 2) ASSERT_TRUE(xt::idSetRemove(&set, base + i * 8));
  EXPECT_FALSE(xt::idSetRemove(&set, base + 8));
  for (uintptr_t i = 1; i <= 5000; ++i) ASSERT_EQ(xt::idSetContains(set, base + i * 8), i % 2 == 0) << i;
  // Churn through tombstones: adds and removes keep the table usable.
  for (uintptr_t round = 0; round < 20000; ++round) {
    ASSERT_TRUE(xt::idSetAdd(&set, 0x1000 + round));
    ASSERT_TRUE(xt::idSetRemove(&set, 0x1000 + round));
  }
  EXPECT_EQ(set.used, 2500u);
  xt::idSetFree(&set);
}

TEST(XmlTraceTime, NineDigitsAfterThePoint) {
  struct Case { int64_t millis; uint64_t nanos; const char* text; };
  Case cases[] = {
      {1700000000000, 0, "1700000000.000000000"},
      {1700000000001, 5, "1700000000.001000005"},
      {1700000000999, 999999, "1700000000.999999999"},
      {1700000000999, 1000000, "1700000001.000000000"},
      {0, 7, "0.000000007"},
      {4102444800123, 3600ull * 1000000000ull, "4102448400.123000000"},
  };
  for (const Case& c : cases) {
    char text[xt::kTimeTextSize];
    xt::formatTimeText(c.millis, c.nanos, text);
    EXPECT_STREQ(text, c.text);
  }
}

TEST(XmlTraceHosts, DottedQuadAndPort) {
  struct Case { const char* text; bool quad; uint32_t address; };
  Case cases[] = {
      {"127.0.0.1", true, 0x7F000001},
      {"10.1.2.3", true, 0x0A010203},
      {"255.255.255.255", true, 0xFFFFFFFF},
      {"001.002.003.004", true, 0x01020304},
      {"256.1.1.1", false, 0},   // would not fit its byte
      {"1.2.3", false, 0},
      {"1.2.3.4.5", false, 0},
      {"1.2.3.4a", false, 0},
      {"1234.1.1.1", false, 0},
      {"1..2.3", false, 0},
      {"localhost", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t address = 0;
    EXPECT_EQ(xt::parseDottedQuad(c.text, &address), c.quad) << c.text;
    if (c.quad) {
      EXPECT_EQ(address, c.address) << c.text;
    }
  }
  uint16_t port = 0;
  EXPECT_TRUE(xt::parsePort("65535", &port));
  EXPECT_EQ(port, 65535);
  EXPECT_TRUE(xt::parsePort("0", &port));
  for (const char* bad : {"", "65536", "12a", "-1", " 80"}) EXPECT_FALSE(xt::parsePort(bad, &port)) << bad;
}

std::string recordOf(const char* value) {
  xt::Record r;
  xt::recordBegin(&r, "methodDef");
  xt::recordText(&r, "name", value);
  xt::recordInt(&r, "methodId", -12);
  xt::recordEnd(&r);
  std::string text(r.data, r.length);
  xt::recordFree(&r);
  return text;
}

TEST(XmlTraceRecord, EscapesAttributeValues) {
  struct Case { const char* value; const char* written; };
  Case cases[] = {
      {"<init>", "&lt;init&gt;"},
      {"<clinit>", "&lt;clinit&gt;"},
      {"a&b\"c", "a&amp;b&quot;c"},
      {"it's", "it's"},
      {nullptr, ""},
      {"line\nbreak\ttab\rcr", "line&#10;break&#9;tab&#13;cr"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},                 // é: unchanged
      {"nul\xC0\x80x", "nul\xEF\xBF\xBDx"},                        // modified UTF-8 NUL: no XML char
      {"\xED\xA0\xBD\xED\xB8\x80", "\xF0\x9F\x98\x80"},            // surrogate pair -> one character
      {"\xED\xA0\xBD!", "\xEF\xBF\xBD!"},                          // lone high surrogate
      {"bad\xFF\x01", "bad\xEF\xBF\xBD\xEF\xBF\xBD"},              // stray byte, control character
      {"cut\xE2\x82", "cut\xEF\xBF\xBD"},                          // truncated sequence
  };
  std::string all;
  for (const Case& c : cases) {
    std::string want = std::string("<methodDef name=\"") + c.written + "\" methodId=\"-12\" />\n";
    std::string got = recordOf(c.value);
    EXPECT_EQ(got, want) << (c.value ? c.value : "(null)");
    all += got;
  }
  EXPECT_EQ(xmlcheck::wellFormed(all), "") << all;
  // The same names written unescaped, or in modified UTF-8, are rejected by the parser.
  for (const char* raw : {"<methodDef name=\"<init>\" />\n", "<methodDef name=\"a&b\" />\n",
                          "<methodDef name=\"nul\xC0\x80\" />\n", "<methodDef name=\"\xED\xA0\xBD\xED\xB8\x80\" />\n"}) {
    EXPECT_NE(xmlcheck::wellFormed(raw), "") << raw;
  }
}

TEST(XmlTraceRecord, LongRecordsMoveToTheHeap) {
  std::string name(5000, 'x');
  name += "<>";
  std::string got = recordOf(name.c_str());
  EXPECT_EQ(got.size(), std::strlen("<methodDef name=\"\" methodId=\"-12\" />\n") + 5000 + 8);
  EXPECT_EQ(xmlcheck::wellFormed(got), "");
}

}  // namespace
