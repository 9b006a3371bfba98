// Inputs that once broke the round-trip property (found by the fuzz target):
// each must still compose, come back unchanged, re-emit faithfully with every
// comment and re-emit to the same bytes a second time; the few that do not
// compose must fail with their recorded error.
#include <gtest/gtest.h>

#include "fuzz/roundtrip_fuzz_check.hpp"

namespace qf {
namespace {

TEST(RoundTripRegressions, FormerlyBrokenInputs) {
  const char* inputs[] = {
      // a folded plain scalar that reads like a document marker or directive
      " ---\n- !!Zint 1\n- !!int -2\n", "--- %&seq\\ence\n-a\n",
      // plain values that read like indicators
      "? &a\n- a\n- &b b\n: *b\n*a -:\n- c\n",
      // blank lines between an indicator and its node
      "- \n\n x\n-\n foo: \n", "?\n\nper\t-\n!\n",
      // comments that no entry takes, or that sit between properties and content
      "--- !!map\na: b\n--- !!seq\n- !!st\n     #     ports:\n       r c\n",
      "-\n  ? #&e\n  a\n", "a:\n- b\n? - d\n  - ored\n              #% with a we\n: &f\n",
      "a: !!str\nb: &x\nc: !!str # c\n", "build:\n\n    # above\n     !    # on the tag line\n",
      "? a\n \n- !!!\n\n      # Runs a set 1.3\nfiftevalue\nen: d\n",
      // spacing that must not drift
      "::   name\n", "&a a: &b b\n*b : #a   \n  moe space\n", "{{ groupId }}                 # id\n",
      "- &SS a\n- *SS # Subsequent occurrence\n",
      "c  :\t #lala\n  d\n> # lala\n - seq1\n: # lala\n # #lala\n  seq2\n",
      "? k\n: # c\n  a: 1\n? j\n: # d\n  # e\n  v\n",
      "- |\n &x\n-\n foo bar\n-\n -   # are neither\n  \tStill by two   #42\n",
      "key:    # Comment\n     ?  # lines alue\n", "- # a\n  - x # b\n  - y\n",
      "key:    # Comment\n      !~  # linesvalue\n", "- # c\n  !t # d\n",
      "top3:\n  &k    ?       # with a 3 key3: three\ntop4: 1\n",
      // comment lines between a "-" and its content, in a sequence written as an explicit key
      "?\n-\n# o\n  x\n", "- ? -\n    # o\n      x\n", "?\n-\n# o\n  ?\n  -\n  # p\n    x\n",
      // comment lines between a "-" with a comment and an empty node with properties on a later line
      "- #\n#\n &a", "- # a\n  # b\n  &x\n- z\n", "- - # a\n    # b\n    !t\n",
      // comment lines between a "-" or "?" and a block collection starting below it
      "-\n -\n#\n  U\n", "?\n ? #\n t\n", "-\n  #\n  - U\n", "-\n  # c\n  a: 1\n  b: 2\n",
      // an explicit key with its ":" and value on the key's line
      "&a ? &d ; : b", "? a   :   b\n",
      // block scalars re-emitted from their value
      "---\na: >2\n   moindented\n  regular\nb: >2\n!\n\n   more indented\n  regular\n", "--- |1\n# documentation.0\n",
      "a: |+\n  keep\n\n\nb: 1\n",
  };
  for (const char* text : inputs) {
    ComposeResult r = compose_documents(text);
    EXPECT_TRUE(r.ok()) << text << "\n" << r.error->message;
    std::optional<std::string> failure = fuzz::check_round_trip(text);
    EXPECT_FALSE(failure.has_value()) << *failure;
  }
}

TEST(RoundTripRegressions, FormerlyBrokenInputsThatDoNotCompose) {
  struct Refused {
    const char* text;
    const char* message;
    uint32_t line, column;  // 0-based
  };
  const Refused inputs[] = {
      {"- *SS # Subsequent occurrence\n", "unknown alias: *SS", 0, 2},
      // malformed as the value loader reads them
      {"\n\n  0'\n::\n", "trailing content after document", 3, 1},
      {"%YAML 1.3 # Attempt parsing\n    ?     # with a warning\n---\n\"foo\"\n",
       "directive must be followed by a document start (---)", 0, 0},
      {"[a, [b, c]]\n: # Both empty\n\"quoted key\":\n- entry\n", "trailing content after document", 1, 0},
      {"- a\n- -   # Comment\n        # lines\n   b\n  -0c\n", "a block sequence entry must start with '-'", 4, 2},
      {"%TAG ! tag:x,2002:\n--- !shape\n  # Use the ! handle\n ? # tag:circle\n- !circle\n  radius: 7\n",
       "trailing content after document", 4, 0},
  };
  for (const Refused& in : inputs) {
    ComposeResult r = compose_documents(in.text);
    ASSERT_FALSE(r.ok()) << in.text;
    EXPECT_EQ(r.error->message, in.message) << in.text;
    EXPECT_EQ(r.error->span.line, in.line) << in.text;
    EXPECT_EQ(r.error->span.column, in.column) << in.text;
  }
}

}  // namespace
}  // namespace qf
