// The language of d88info's and d88put's --help: which locale asks for
// Japanese, and the Japanese help against the English one (the same options
// in the same order, the same exit statuses, the usage errors in English in
// both), so that the two cannot drift apart.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/help_text.h"
#include "tests/tool_runner.h"
#include "text/d88_text.h"

namespace {

namespace fs = std::filesystem;

using help::Language;

// The help's description column (two spaces, then the option names).
constexpr std::size_t kDescriptionColumn = 22;

TEST(HelpLanguage, FirstLocaleVariableSetDecides) {
  struct Case {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    Language want;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, Language::English},
      {nullptr, nullptr, "ja_JP.UTF-8", Language::Japanese},
      // The help is UTF-8: Japanese only where the code set is, or is not named.
      {nullptr, nullptr, "ja_JP.eucJP", Language::English},
      {nullptr, nullptr, "ja_JP.SJIS", Language::English},
      {nullptr, nullptr, "ja_JP.EUC-JP@cjknarrow", Language::English},
      {nullptr, nullptr, "ja_JP.utf8", Language::Japanese},
      {nullptr, nullptr, "ja_JP.UTF8", Language::Japanese},
      {nullptr, nullptr, "ja_JP.UTF-8@cjknarrow", Language::Japanese},
      {nullptr, nullptr, "ja_JP.", Language::English},
      {nullptr, nullptr, "ja_JP.UTF-16", Language::English},
      {nullptr, nullptr, "ja_JP", Language::Japanese},
      {nullptr, "ja_JP.eucJP", "ja_JP.UTF-8", Language::English},
      {nullptr, nullptr, "ja", Language::Japanese},
      {nullptr, nullptr, "ja.UTF-8", Language::Japanese},
      {nullptr, nullptr, "ja@cjknarrow", Language::Japanese},
      {nullptr, nullptr, "ja-JP", Language::Japanese},
      {nullptr, nullptr, "en_US.UTF-8", Language::English},
      {nullptr, nullptr, "C", Language::English},
      // A language whose code only starts with "ja" is not Japanese.
      {nullptr, nullptr, "jam_JM", Language::English},
      {nullptr, nullptr, "j", Language::English},
      {nullptr, nullptr, "JA_JP", Language::English},
      // LC_MESSAGES outranks LANG, LC_ALL both.
      {nullptr, "C", "ja_JP.UTF-8", Language::English},
      {nullptr, "ja_JP.UTF-8", "C", Language::Japanese},
      {"C", "ja_JP.UTF-8", "ja_JP.UTF-8", Language::English},
      {"ja_JP.UTF-8", "C", "C", Language::Japanese},
      // An empty variable counts as one not set.
      {"", "", "ja_JP.UTF-8", Language::Japanese},
      {"", "ja_JP.UTF-8", "C", Language::Japanese},
      {"", "", "", Language::English},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "(unset)") + " / " +
                 (c.lcMessages ? c.lcMessages : "(unset)") + " / " + (c.lang ? c.lang : "(unset)"));
    EXPECT_EQ(help::languageOfLocale(c.lcAll, c.lcMessages, c.lang), c.want);
  }
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

// What a help says that must not depend on its language: the usage line
// after its label and [OPTIONS], and each option line's names; with the
// descriptions, to be compared apart.
struct HelpParts {
  std::string usage;
  std::vector<std::string> names;
  std::vector<std::string> descriptions;
  std::size_t headings = 0;
};

HelpParts partsOf(const std::string& text, Language language) {
  HelpParts parts;
  const std::vector<std::string> lines = linesOf(text);
  const std::string label = std::string(help::kUsage.in(language)) + ": ";
  const std::string options = std::string("[") + help::kOptionsInUsage.in(language) + "]";
  for (const std::string& line : lines) {
    if (line.rfind(label, 0) == 0) {
      parts.usage = line.substr(label.size());
      const std::size_t at = parts.usage.find(options);
      EXPECT_NE(at, std::string::npos) << line;
      if (at != std::string::npos) {
        parts.usage.replace(at, options.size(), "[]");
      }
    } else if (line.rfind("  ", 0) == 0) {
      // The names end where two spaces lead to the description.
      const std::size_t gap = line.find("  ", 2);
      const std::size_t description = line.find_first_not_of(' ', gap);
      const std::string head = line.substr(2, line.find(' ', 2) - 2);
      parts.names.push_back(head);
      EXPECT_NE(description, std::string::npos) << line;
      if (description == std::string::npos) {
        continue;
      }
      // Japanese labels take fewer columns than bytes: the column counts.
      EXPECT_EQ(d88text::displayWidth(line.substr(0, description)), kDescriptionColumn) << line;
      parts.descriptions.push_back(line.substr(description));
    } else if (!line.empty() && line.back() == ':') {
      ++parts.headings;
    }
  }
  return parts;
}

class HelpTest : public ::testing::Test {
 protected:
  d88test::RunResult run(const std::string& tool, const char* locale,
                         const std::vector<std::string>& args) {
    d88test::setLocale(locale);
    auto result = d88test::runIn(scratch_.path(), fs::absolute(tool).make_preferred().string(),
                                 args, scratch_.path());
    d88test::setLocale("C");
    return result;
  }
  d88test::ScratchDir scratch_;
};

TEST_F(HelpTest, JapaneseListsTheSameOptionsAsEnglish) {
  struct Case {
    const char* tool;
    // A command line that is a usage error, and a name that it needs.
    std::vector<std::string> wrong;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {D88INFO_PATH,
       {"-j", "0", "x.d88"},
       {"PATH", "--help", "--version", "--json", "--summary", "-r", "-j"}},
      {D88PUT_PATH,
       {"x.d88", "folder", "--disk", "64"},
       {"d88file", "folder", "--help", "--version", "--disk", "-o", "-n", "--resize"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool);
    const auto english = run(c.tool, "C", {"--help"});
    const auto japanese = run(c.tool, "ja_JP.UTF-8", {"--help"});
    EXPECT_EQ(english.status, 0);
    EXPECT_EQ(japanese.status, 0);
    EXPECT_EQ(japanese.err, "");
    const HelpParts en = partsOf(english.out, Language::English);
    const HelpParts ja = partsOf(japanese.out, Language::Japanese);
    EXPECT_FALSE(en.usage.empty());
    EXPECT_EQ(ja.usage, en.usage);
    EXPECT_EQ(en.names, c.names);
    EXPECT_EQ(ja.names, en.names);
    EXPECT_EQ(ja.headings, en.headings);
    // Every description is translated, none left in English.
    ASSERT_EQ(ja.descriptions.size(), en.descriptions.size());
    for (std::size_t i = 0; i < en.descriptions.size(); ++i) {
      EXPECT_NE(ja.descriptions[i], en.descriptions[i]);
      EXPECT_NE(d88text::displayWidth(ja.descriptions[i]), ja.descriptions[i].size())
          << ja.descriptions[i];
    }
    // A usage error: its line as in English, then the help of the language.
    const auto wrongEnglish = run(c.tool, "C", c.wrong);
    const auto wrongJapanese = run(c.tool, "ja_JP.UTF-8", c.wrong);
    EXPECT_EQ(wrongEnglish.status, 1);
    EXPECT_EQ(wrongJapanese.status, 1);
    EXPECT_EQ(wrongJapanese.out, "");
    const std::size_t end = wrongEnglish.err.find('\n') + 1;
    ASSERT_GT(end, 0U);
    EXPECT_EQ(wrongJapanese.err, wrongEnglish.err.substr(0, end) + japanese.out);
    EXPECT_EQ(wrongEnglish.err, wrongEnglish.err.substr(0, end) + english.out);
    // --version is the same in both.
    const auto version = run(c.tool, "ja_JP.UTF-8", {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, run(c.tool, "C", {"--version"}).out);
  }
}

// The usage line names the program as it was run, so its width depends on
// the folder the build sits in (under Wine, a drive letter and all): the
// line is measured with the program's bare name.
std::string withBareProgramName(const std::string& usage) {
  const std::size_t heading = usage.find(": ");
  const std::size_t options = usage.find(" [");
  const std::size_t folder = usage.find_last_of("/\\", options);
  if (heading == std::string::npos || options == std::string::npos || folder == std::string::npos ||
      folder < heading) {
    return usage;
  }
  return usage.substr(0, heading + 2) + usage.substr(folder + 1);
}

// Every line of either help fits an 80-column terminal, the Japanese one
// counted in display columns (a kanji takes two).
TEST_F(HelpTest, JapaneseLinesFitIn80Columns) {
  EXPECT_EQ(withBareProgramName("U: Z:\\a b\\c\\d88put.exe [O] f"), "U: d88put.exe [O] f");
  EXPECT_EQ(withBareProgramName("U: /a/b/d88put [O] f"), "U: d88put [O] f");
  for (const char* tool : {D88INFO_PATH, D88PUT_PATH}) {
    const auto japanese = run(tool, "ja_JP.UTF-8", {"--help"});
    ASSERT_EQ(japanese.status, 0) << tool;
    const std::vector<std::string> lines = linesOf(japanese.out);
    ASSERT_FALSE(lines.empty()) << tool;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string line = i == 0 ? withBareProgramName(lines[i]) : lines[i];
      EXPECT_LE(d88text::displayWidth(line), 80U) << tool << ": " << line;
    }
  }
}

// Where the locale's variables come from a user's shell, which most often
// sets LANG alone: LANG decides when LC_ALL and LC_MESSAGES are not set, and
// LANGUAGE (gettext's list of languages) has no say.
TEST_F(HelpTest, LangAloneDecidesTheHelpsLanguage) {
  struct Variable {
    const char* name;
    std::string saved;
    bool set;
  };
  std::vector<Variable> variables;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"}) {
    const char* value = std::getenv(name);
    variables.push_back({name, value != nullptr ? value : "", value != nullptr});
  }
  // An empty value unsets the variable.
  const auto assign = [](const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    if (value.empty()) {
      unsetenv(name);
    } else {
      setenv(name, value.c_str(), 1);
    }
#endif
  };
  struct Case {
    const char* lang;
    const char* lcMessages;
    const char* language;
    bool japanese;
  };
  const Case cases[] = {
      {"ja_JP.UTF-8", "", "", true},      {"ja-JP", "", "", true},
      {"ja_JP.UTF-8", "", "en_US", true}, {"C", "", "ja_JP.UTF-8", false},
      {"en_US.UTF-8", "", "ja", false},   {"ja_JP.UTF-8", "C", "", false},
      {"ja_JP.eucJP", "", "", false},     {"ja_JP.utf8", "", "", true},
  };
  for (const char* tool : {D88INFO_PATH, D88PUT_PATH}) {
    const std::string english = run(tool, "C", {"--help"}).out;
    const std::string japanese = run(tool, "ja_JP.UTF-8", {"--help"}).out;
    ASSERT_NE(english, japanese) << tool;
    for (const Case& c : cases) {
      assign("LC_ALL", "");
      assign("LC_MESSAGES", c.lcMessages);
      assign("LANG", c.lang);
      assign("LANGUAGE", c.language);
      const auto result =
          d88test::runIn(scratch_.path(), fs::absolute(tool).make_preferred().string(), {"--help"},
                         scratch_.path());
      EXPECT_EQ(result.status, 0) << tool << " LANG=" << c.lang;
      EXPECT_EQ(result.out, c.japanese ? japanese : english)
          << tool << " LANG=" << c.lang << " LC_MESSAGES=" << c.lcMessages
          << " LANGUAGE=" << c.language;
    }
  }
  for (const Variable& variable : variables) {
    assign(variable.name, variable.set ? variable.saved : "");
  }
  d88test::setLocale("C");
}

}  // namespace
