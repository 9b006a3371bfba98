#include "support/yaml_directive.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>

using qf::sniff_yaml_directive;
using qf::YamlVersion;

TEST(YamlDirective, Table) {
  struct Case {
    std::string text;
    std::optional<YamlVersion> want;
  } cases[] = {
      {"%YAML 1.1\n---\na: 1\n", YamlVersion{1, 1}},
      {"# c\n\n%TAG ! tag:x,2000:\n%YAML 1.2\n---\n", YamlVersion{1, 2}},
      {"%YAML1.1\n%YAML 1.1\n", YamlVersion{1, 1}},
      {"%YAML\n", std::nullopt},
      {"%YAML 1\n", std::nullopt},
      {"%YAML 1.2.3\n", std::nullopt},
      {"%YAML .1\n", std::nullopt},
      {"%YAML 1.\n", std::nullopt},
      {"%YAML #1.1\n", std::nullopt},
      {"%YAML 1.2 # c\n", YamlVersion{1, 2}},
      {"%YAML 1.2#c\n", std::nullopt},
      {"---\n%YAML 1.1\n", std::nullopt},
      {"  %YAML 1.1\n", YamlVersion{1, 1}},
      {"\t\xE3\x80\x80%YAML\xC2\xA0" "1.1\n", YamlVersion{1, 1}},
      {"a\r%YAML 1.1\n", std::nullopt},
      {"# c\r\n%YAML 1.1\r\n", YamlVersion{1, 1}},
      {"# c\r%YAML 1.1\r", YamlVersion{1, 1}},
      {"%YAML 4294967296.0", std::nullopt},
      {"%YAML 4294967295.0", YamlVersion{4294967295u, 0}},
      {"%YAML 01.001", YamlVersion{1, 1}},
      {"%YAML +1.1", std::nullopt},
      {"\xEF\xBB\xBF%YAML 1.1", YamlVersion{1, 1}},
      {"%", std::nullopt},
      {"%\n%YAML 1.1", YamlVersion{1, 1}},
      {"%yaml 1.1", std::nullopt},
      // Content, "---" or a document end first: nothing further is read.
      {"a: 1\n%YAML 1.1\n", std::nullopt},
      {"...\n%YAML 1.1\n", std::nullopt},
      {"\v\f%YAML 1.2\n", YamlVersion{1, 2}},
      {"", std::nullopt},
      {"\n\n", std::nullopt},
      {"%YAML 1.1 extra words", YamlVersion{1, 1}},
      // Mixed breaks: lone CRs before and after a LF, CR CR LF, LF CR.
      {"# a\r# b\r\n# c\r%YAML 1.1\n", YamlVersion{1, 1}},
      {"# a\n\r\r\n\r# b\r\n%YAML 1.2", YamlVersion{1, 2}},
      {"# a\r# b\rx: 1\n%YAML 1.1\n", std::nullopt},
      {"# a\r\r\r\r", std::nullopt},
      {"#\n#\n#\n  \t\n%YAML 1.2\r", YamlVersion{1, 2}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sniff_yaml_directive(c.text), c.want) << c.text;
  }
}

TEST(YamlDirective, MalformedBytesStayInBounds) {
  // Bytes that claim longer sequences than the line holds.
  for (std::string s : {"%YAML \xE2\n1.1", "%\xF0", "%YAML 1.1\xC2", "\xE2\x80", "%YAML\xE2\x80"}) {
    (void)sniff_yaml_directive(s);
  }
  SUCCEED();
}

TEST(YamlDirective, LongLinesAcrossBlocks) {
  // Lines of every length around the 16-byte steps, each break kind, the text
  // in a buffer of exactly its size so a read past the end is caught.
  for (size_t len = 0; len <= 40; ++len) {
    for (std::string br : {"\n", "\r", "\r\n"}) {
      const std::string comment = "#" + std::string(len, 'c');
      struct Case {
        std::string text;
        std::optional<YamlVersion> want;
      } cases[] = {
          {comment + br + comment + br + "%YAML 1.1", YamlVersion{1, 1}},
          {comment + br + std::string(len, ' ') + br + "%YAML 1.2" + br, YamlVersion{1, 2}},
          {comment + br + "x: " + std::string(len, 'v') + br + "%YAML 1.1", std::nullopt},
          {comment, std::nullopt},
      };
      for (const auto& c : cases) {
        std::unique_ptr<char[]> exact(new char[c.text.size()]);
        std::memcpy(exact.get(), c.text.data(), c.text.size());
        EXPECT_EQ(sniff_yaml_directive(std::string_view(exact.get(), c.text.size())), c.want) << c.text;
      }
    }
  }
}

TEST(YamlDirective, LeadingCommentPagesAroundTheWholeTextSearch) {
  // A directive (or a '%' elsewhere, or none) after pages of comments, the
  // whole text just under, at and just over the size searched for a '%' at
  // once, and far beyond it.
  for (size_t size : {4000u, 65535u, 65536u, 65537u, 70000u}) {
    for (const char* head : {"%YAML 1.1\n---\nv: yes\n", "# %YAML 1.1\n---\nv: yes\n", "w: 10%\n",
                             "v: yes\n"}) {
      std::string text;
      while (text.size() + std::strlen(head) + 32 < size) text += "# licence line\n";
      text += "#" + std::string(size - std::strlen(head) - text.size() - 2, 'c') + "\n";
      text += head;
      ASSERT_EQ(text.size(), size);
      const std::optional<YamlVersion> want =
          head[0] == '%' ? std::optional<YamlVersion>(YamlVersion{1, 1}) : std::nullopt;
      EXPECT_EQ(sniff_yaml_directive(text), want) << size << " " << head;
    }
  }
}
