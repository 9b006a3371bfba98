// The scanner's shortcuts for common shapes against its general routines:
// the same tokens (kinds, spans, end offsets, texts), comments and errors
// over the test suite, the corpus, mutated texts and small random texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "../../fuzz/scanner_fuzz_check.hpp"
#include "../test_files.hpp"
#include "scanner/scan_engine.hpp"
#include "scanner/scanner.hpp"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> read_texts(const fs::path& root, bool suite) {
  std::vector<std::string> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    const fs::path& p = e.path();
    if (suite ? p.filename() != "in.yaml" : (p.extension() != ".yaml" && p.extension() != ".yml"))
      continue;
    out.push_back(qf::test::read_file(p));
  }
  std::sort(out.begin(), out.end());
  return out;
}

struct Scan {
  qf::TokenizeResult result;
  std::vector<std::string> texts;  // token texts, copied while the scanner lives
  std::vector<qf::RawComment> comments;
};

Scan scan(std::string_view text, bool fast, bool keep_comments = true) {
  qf::Scanner s(text);
  s.keep_comments = keep_comments;
  s.fast_paths = fast;
  Scan out{qf::tokenize(s), {}, {}};
  for (const qf::Token& t : out.result.tokens) out.texts.emplace_back(t.text);
  out.comments = std::move(s.comments);
  return out;
}

// Empty when the roads agree, else what differs first. Comments that are
// not kept are skipped by a road of their own: its tokens are compared too.
std::string compare(std::string_view text) {
  const Scan a = scan(text, true), b = scan(text, false);
  const Scan unkept = scan(text, true, false);
  if (unkept.result.error.has_value() != a.result.error.has_value() ||
      (unkept.result.error && !(unkept.result.error->span == a.result.error->span)) ||
      unkept.result.tokens.size() != a.result.tokens.size() || unkept.texts != a.texts)
    return "scans keeping and dropping comments differ";
  for (size_t i = 0; i < a.result.tokens.size(); ++i) {
    const qf::Token &x = a.result.tokens[i], &y = unkept.result.tokens[i];
    if (x.kind != y.kind || x.end_offset != y.end_offset || !(x.span == y.span))
      return "token " + std::to_string(i) + " differs when comments are dropped";
  }
  if (a.result.error.has_value() != b.result.error.has_value()) return "one road failed";
  if (a.result.error) {
    const qf::ScanError &x = *a.result.error, &y = *b.result.error;
    if (x.message != y.message || !(x.span == y.span))
      return "errors differ: " + x.message + " / " + y.message;
    return "";
  }
  const auto& ta = a.result.tokens;
  const auto& tb = b.result.tokens;
  if (ta.size() != tb.size()) return "token counts differ";
  for (size_t i = 0; i < ta.size(); ++i) {
    const qf::Token &x = ta[i], &y = tb[i];
    if (x.kind != y.kind || x.style != y.style || x.flag != y.flag ||
        x.end_offset != y.end_offset || !(x.span == y.span) || a.texts[i] != b.texts[i])
      return "token " + std::to_string(i) + " differs";
  }
  if (a.comments.size() != b.comments.size()) return "comment counts differ";
  for (size_t i = 0; i < a.comments.size(); ++i)
    if (a.comments[i].text != b.comments[i].text || !(a.comments[i].span == b.comments[i].span))
      return "comment " + std::to_string(i) + " differs";
  return "";
}

// Small edits aimed at the shortcuts' borders: line breaks, indentation,
// blanks before ":" and "#", TABs, non-ASCII text, cut ends, and what may
// stop a run of simple lines (markers, properties, quotes, entries).
std::string mutate(std::string text, std::mt19937_64& rng) {
  static const char* const kBits[] = {"\n", "\r\n", "\r", " ",  "  ",  "\t", ": ",
                                      ":",  "#",    " #c", "a", "- ", "? ", "\n\n",
                                      "[",  "{",    ",",   "]", "}",  "---", "\xC3\xA9",
                                      "...", "%",   "&a ", "!t ", "'q'", "\n  ", "\n- "};
  auto pick = [&](size_t n) { return n == 0 ? size_t(0) : size_t(rng() % n); };
  const int rounds = 1 + static_cast<int>(rng() % 3);
  for (int i = 0; i < rounds; ++i) {
    switch (rng() % 4) {
      case 0:
        text.resize(pick(text.size() + 1));
        break;
      case 1:
        text.erase(pick(text.size() + 1), pick(4) + 1);
        break;
      default:
        text.insert(pick(text.size() + 1), kBits[pick(std::size(kBits))]);
        break;
    }
  }
  return qf::fuzz::make_valid_utf8(text);
}

TEST(ScannerFastPaths, SameAsGeneralOnSuiteAndCorpus) {
  std::vector<std::string> texts = read_texts(QF_SOURCE_DIR "/../shared/yaml-test-suite", true);
  const size_t suite = texts.size();
  for (std::string& t : read_texts(QF_SOURCE_DIR "/../shared/corpus", false))
    texts.push_back(std::move(t));
  if (suite == 0 || texts.size() == suite) GTEST_SKIP() << "test suite or corpus not found";
  for (const std::string& t : texts) EXPECT_EQ(compare(t), "") << t.substr(0, 200);
}

// Shapes the corpus has few of: nesting past the indentation stack's inline
// room, runs of simple lines longer than one call takes, CR LF line ends,
// comment blocks broken every way a block can be.
TEST(ScannerFastPaths, SameAsGeneralOnGeneratedShapes) {
  std::string deep_map, deep_seq, long_run, mixed;
  for (int i = 0; i < 40; ++i)
    deep_map += std::string(2 * i, ' ') + "k" + std::to_string(i) + ":\n";
  deep_map += std::string(80, ' ') + "leaf: v\nback: 1\n";
  for (int i = 0; i < 40; ++i) deep_seq += "- ";
  deep_seq += "a: b\n" + std::string(80, ' ') + "c: d\n- e\n";
  for (int i = 0; i < 100; ++i) {
    const std::string n = std::to_string(i);
    long_run += "key_" + n + ": value " + n + (i % 7 == 0 ? " # note\n" : "\n");
    if (i % 13 == 0) long_run += "\n  # aside\n\n";
    if (i % 17 == 0) long_run += "q_" + n + ": 'quoted " + n + "'\nd_" + n + ": \"x\"\n";
    mixed += "- name: item " + n + "\n  url: http://h/" + n + "#top\n  tags:\n  - a\n  - b\n";
  }
  // Blocks of comment lines: indented, with blank and space-only lines
  // among them, a CR LF inside, a TAB before one, one ending the input.
  std::string comments = "# head\n#\n  # indented\n\n   \n# after blanks\n";
  for (int i = 0; i < 30; ++i) {
    const std::string n = std::to_string(i);
    comments += "k" + n + ":\n  # about v" + n + std::string(i * 3, 'x') + "\n" +
                (i % 4 == 0 ? "  #\r\n # cr lf\r\n" : "") + (i % 5 == 0 ? "\t# tab\n" : "") +
                "  v" + n + ": " + n + "\n  # " + std::string(i, '#') + "\n# dedent\n";
  }
  comments += "# last line, no break";
  std::string crlf;
  for (char c : long_run + mixed) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  // Flow lines of more entries than one step takes, nested, with quoted
  // keys, properties and comments among plain entries, and broken over lines.
  std::string flow_line = "top: [", flow_map = "{";
  for (int i = 0; i < 60; ++i) {
    const std::string n = std::to_string(i);
    flow_line += (i ? ", " : "") + std::string(i % 9 == 0 ? "{k: [x, y], \"q\": v}" : "v" + n);
    flow_map += (i ? "," : "") + std::string(i % 11 == 5 ? "\n  " : " ") + "k" + n + ": " +
                (i % 7 == 3 ? "&a" + n + " w" : i % 13 == 4 ? "[a,b] # c\n" : "{x: " + n + "}");
  }
  flow_line += "]\nnext: {a: b}\n";
  flow_map += "}\n";
  const std::string texts[] = {deep_map, deep_seq, long_run, mixed, crlf, comments, flow_line, flow_map,
                               "top:\n" + long_run.substr(0, 300) + "---\n" + mixed.substr(0, 300)};
  for (const std::string& t : texts) {
    EXPECT_EQ(compare(t), "") << t.substr(0, 200);
    // Two failing scans would compare equal by their errors alone.
    qf::Scanner s(t);
    EXPECT_TRUE(qf::tokenize(s).ok()) << t.substr(0, 200);
  }
  qf::Scanner s(deep_map);
  const qf::TokenizeResult r = qf::tokenize(s);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(std::count_if(r.tokens.begin(), r.tokens.end(),
                          [](const qf::Token& t) { return t.kind == qf::TokenKind::BlockEnd; }),
            41);
}

// What lies between simple lines: dedents by one and by several levels,
// sequences closed by a key at their column, entries opening and
// continuing sequences, and the entries that break a rule, each failing
// where the general road fails.
TEST(ScannerFastPaths, SameAsGeneralBetweenSimpleLines) {
  struct Case {
    const char* text;
    const char* error;  // empty: scans
  };
  const Case cases[] = {
      {"- a: 1\n  b: 2\n- c: 3\n  d: 4\n", ""},
      {"a:\n  b:\n    c:\n      d: 1\ne: 2\nf:\n  g: 3\n  h:\n    - i\nj: 4\n", ""},
      {"k:\n- a\n- b\nn: x\nm:\n  - c\n  - d\no: y\n", ""},
      {"- a: 1\n  b: 2\nn: x\n", ""},
      {"k:\n  - a:\n      b: 1\n  n: x\n", ""},
      {"- - a\n  - b\n- c\n-   d: 1\n    e: 2\n- f\n", ""},
      {"k:\n  - a\n  - b: 1\n    c: 2\n  - d\nn: x\n", ""},
      {"- a: 1\n  b:\n  - c\n  - d\n- e\n", ""},
      {"- - - a\n    - b\n- c\n", ""},
      {"- a:\n    - b\n  - c\n", ""},
      {"&x\n- a\n- b\n", ""},
      // Empty lines and comment lines between simple lines, before a dedent,
      // an entry, a deeper key; a comment line ending at a CR, or the input.
      {"a:\n  b: 1\n\n  # c\n   \nd: 2\n", ""},
      {"a:\n  # c\n  - x\n  # d\n\n  - y\nz: 1\n", ""},
      {"a:\n  b:\n    c: 1\n# back two\ne: 2\n# end", ""},
      {"a: 1\n# c\r\nb: 2\n", ""},
      {"a:\n\n# c\n  b: 1\n", ""},
      // Quoted values after a key: on one line, with blanks, a comment or
      // more after them, doubled quotes, escapes, non-ASCII text, folded
      // over lines, ending the input.
      {"k:\n  a: 'x'\n  b: \"y\"  \n- c\n", ""},
      {"a: 'x'\nb: \"y\"  \nc: 'z' # n\nd: \"w\"\t\ne: 1\n", ""},
      {"a: 'it''s'\nb: \"q\\\"q\"\nc: '\xC3\xA9'\nd: 'f\n  g'\ne: 1\n", ""},
      {"a:\n  b: 'x'\nc: \"y\"", ""},
      {"a: 'x'   ", ""},
      {"a: 'x' y\n", "unexpected content after quoted scalar"},
      {"a: 'x\n", "unterminated single-quoted scalar"},
      {"k: &x\n- a\n", ""},
      {"--- - a\n- b\n", "a block collection cannot start on the same line as ---"},
      {"a: b\nc: - d\n", "a block sequence cannot start on the same line as its mapping key"},
      {"- - a\n - c\n", "a sequence entry is indented past its sequence"},
      {"- a: 1\n  b: 2\n - c\n", "a sequence entry is indented past its sequence"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compare(c.text), "") << c.text;
    qf::Scanner s(c.text);
    const qf::TokenizeResult r = qf::tokenize(s);
    EXPECT_EQ(r.ok() ? std::string() : r.error->message, c.error) << c.text;
  }
}

// The vector searches read 8, 16, 32 and 64 bytes at a time: every kind of
// simple line with its ":", "#", blanks, line break and the next line's
// indentation at each offset around those marks, in texts that end right
// there, with and without a final line break, with CR LF, and of a size that
// is a multiple of 64. Each text is scanned from a buffer of its exact size,
// so that under ASan a read past its end fails.
TEST(ScannerFastPaths, SameAsGeneralAcrossBlockEdges) {
  const char* const shapes[] = {
      "key: value\n",     "key:\n  sub: v\n", "- item\n- b: c\n", "a: b # c\n",
      "u: http://h/x#y\n", "k:\tv\n",          "k: v \t\n",        "k: 'q'\nn: \"d\"\n",
      "a:\n\n   \n  b: c\n", "k: v\n  # c\n\t# t\n", "k: x:y\n", "k: \xC3\xA9\n",
      "a:\n                  b:\n                                   c: d\n  e: f\n",
      "k: a\tb\t\tc\nd\te: f\t# g\t\nh: i\t\n",
  };
  // False when the text fails to scan (both roads failing alike).
  const auto check = [](const std::string& text) {
    if (text.empty()) return true;
    const std::unique_ptr<char[]> exact(new char[text.size()]);
    std::memcpy(exact.get(), text.data(), text.size());
    const std::string_view view(exact.get(), text.size());
    EXPECT_EQ(compare(view), "") << text;
    qf::Scanner s(view);
    return qf::tokenize(s).ok();
  };
  for (const char* shape : shapes) {
    for (size_t pad = 0; pad < 72; ++pad) {
      // The shape after a first line whose length moves it across the marks.
      std::string text = "p" + std::string(pad, 'x') + ": y\n" + shape;
      std::string crlf;
      for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
      for (const std::string& t : {text, crlf}) {
        // Whole, then ended at every byte of the shape (a lone CR, no final
        // line break, mid-key, mid-indentation), and cut at a multiple of 64.
        EXPECT_TRUE(check(t)) << t;
        for (size_t cut = pad; cut < t.size(); ++cut) check(t.substr(0, cut));
        check(t.substr(0, t.size() & ~size_t(63)));
      }
      // Grown to a multiple of 64 by the first line's value.
      const size_t grow = (64 - text.size() % 64) % 64;
      EXPECT_TRUE(check("p" + std::string(pad, 'x') + ": y" + std::string(grow, 'z') + "\n" + shape));
    }
  }
}

TEST(ScannerFastPaths, SameAsGeneralOnMutatedTexts) {
  std::vector<std::string> seeds = read_texts(QF_SOURCE_DIR "/../shared/yaml-test-suite", true);
  for (std::string& t : read_texts(QF_SOURCE_DIR "/../shared/corpus", false))
    if (t.size() < 4096) seeds.push_back(std::move(t));
  if (seeds.empty()) GTEST_SKIP() << "no seed texts";
  // The many-small-mappings shape, flow collections in a block mapping.
  std::string small;
  for (int i = 0; i < 20; ++i)
    small += "key_" + std::to_string(i) + ": {name: item " + std::to_string(i) +
             ", tags: [a, b], value: " + std::to_string(i) + "}\n";
  seeds.insert(seeds.end(), 50, small);
  std::mt19937_64 rng(0x19f);
  size_t failed = 0;
  for (int i = 0; i < 60000; ++i) {
    const std::string text = mutate(seeds[rng() % seeds.size()], rng);
    const std::string diff = compare(text);
    ASSERT_EQ(diff, "") << text;
    qf::Scanner s(text);
    failed += !qf::tokenize(s).ok();
  }
  EXPECT_GT(failed, 1000u);  // the edits reach the error paths too
}

TEST(ScannerFastPaths, SameAsGeneralOnRandomLines) {
  std::mt19937_64 rng(7);
  const std::string alphabet = "ab  :#-?\t\n\r\xC3\xA9[]{},'";
  for (int i = 0; i < 100000; ++i) {
    std::string text;
    const size_t n = rng() % 40;
    for (size_t k = 0; k < n; ++k) text += alphabet[rng() % alphabet.size()];
    text = qf::fuzz::make_valid_utf8(text);
    ASSERT_EQ(compare(text), "") << text;
  }
}

// The token estimate that sizes the vector of large texts, sixteen bytes at
// a time, against its byte-by-byte definition: unaligned starts, every byte
// value at every place of a block and its tail, and indicators packed into
// one byte lane for longer than the lane's sum may run before it is folded.
TEST(ScannerFastPaths, TokenEstimateSameAsByteByByte) {
  const auto by_byte = [](const std::string& t, size_t from) {
    uint64_t sum = 16;
    for (size_t i = from; i < t.size(); ++i) {
      const char c = t[i];
      sum += c == ':' ? 5 : std::string_view(",-[]{}?").find(c) != std::string_view::npos ? 2
                        : std::string_view("!&*").find(c) != std::string_view::npos   ? 1
                                                                                      : 0;
    }
    return std::min<uint64_t>(sum, (t.size() - from) / 2 + 16);
  };
  const auto check = [&](const std::string& t, size_t from) {
    ASSERT_EQ(qf::scan_detail::estimate_token_count(t.data() + from, t.size() - from),
              by_byte(t, from))
        << "from " << from << ": " << t.substr(from, 80);
  };
  for (const std::string& t : read_texts(QF_SOURCE_DIR "/../shared/corpus", false))
    for (size_t from : {0, 1, 7}) check(t, std::min(from, t.size()));
  for (size_t len : {1, 15, 16, 17, 40}) {
    for (size_t at = 0; at < len; ++at) {
      for (int c = 0; c < 256; ++c) {
        std::string t(len, 'a');
        t[at] = static_cast<char>(c);
        check(t, 0);
      }
    }
  }
  // A ":" every sixteen bytes stays below the clamp, so every one counts.
  for (size_t phase = 0; phase < 16; ++phase) {
    std::string t(20000, 'x');
    for (size_t i = phase; i < t.size(); i += 16) t[i] = ':';
    check(t, 0);
    check(t, 3);
  }
}

}  // namespace
