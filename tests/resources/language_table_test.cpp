#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/skin_resources.h"
#include "resources/ui_text.h"
#include "test_support.h"

using testing_support::makeTempDir;
using testing_support::writeFile;

namespace {

const std::string kHead =
    "Code\tlanguage_code\tzh_CN\ten_US\r\n"
    "Language\tlanguage_name\t\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87\tEnglish\r\n";
const std::string kShi = "\xE6\x98\xAF";  // 是 in UTF-8

struct Expect {
  std::wstring key;
  bool present;
  std::wstring text;
};

struct TableCase {
  const char* scenario;
  std::wstring language;
  std::string tsv;
  std::vector<Expect> expected;
};

// Loads the table the way start-up does, from a file in the (test) program folder.
void loadTable(SkinResources& skin, const std::wstring& language, const std::string& tsv) {
  std::wstring folder = makeTempDir(L"table");
  ASSERT_TRUE(writeFile(folder + L"multi_language.tsv", tsv));
  skin.setLanguage(language, L"zh_CN");
  skin.setProgramFolderForTesting(folder);
  skin.loadLanguageTable(L"multi_language.tsv");
}

void expectTexts(const SkinResources& skin, const std::vector<Expect>& expected) {
  for (const Expect& e : expected) {
    SCOPED_TRACE(testing_support::wideToUtf8(e.key));
    const std::wstring* text = skin.getText(e.key);
    ASSERT_EQ(text != nullptr, e.present);
    if (text) {
      EXPECT_EQ(*text, e.text);
    }
  }
}

std::string repeat(const std::string& unit, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += unit;
  return out;
}

}  // namespace

// Column choice, structure checks and line splitting of the table file: each case loads one
// file and finds exactly the texts (or absences) listed.
TEST(LanguageTableTest, ColumnsLinesAndCells) {
  const TableCase cases[] = {
      {"the code's own column", L"en_US", kHead + "Label\tk\t\xE4\xB8\xAD\ten\n", {{L"k", true, L"en"}}},
      {"an unknown code takes column 2", L"fr_FR", kHead + "Label\tk\t\xE4\xB8\xAD\ten\n", {{L"k", true, L"\u4E2D"}}},
      {"a wrong names line ignores the table",
       L"zh_CN",
       "Code\tlanguage_code\tzh_CN\nLanguage\tlanguage_names\tx\nLabel\tk\tv\n",
       {{L"k", false, L""}}},
      {"a one-cell header ignores the table",
       L"zh_CN",
       "Code\nLanguage\tlanguage_name\tx\nLabel\tk\tv\n",
       {{L"k", false, L""}}},
      {"a one-cell names line ignores the table",
       L"zh_CN",
       "Code\tlanguage_code\tzh_CN\nLanguage\nLabel\tk\tv\n",
       {{L"k", false, L""}}},
      {"lines shorter than the column are skipped",
       L"en_US",
       kHead + "Label\tshort\t\xE4\xB8\xAD\nLabel\tfull\t\xE4\xB8\xAD\ten\n",
       {{L"short", false, L""}, {L"full", true, L"en"}}},
      {"a later line with the same key wins",
       L"zh_CN",
       kHead + "Label\tk\tfirst\nLabel\tk\tsecond\n",
       {{L"k", true, L"second"}}},
      {"a leading tab shifts the cells left",
       L"zh_CN",
       kHead + "\tk\tzh\ten\n",
       {{L"k", false, L""}, {L"zh", true, L"en"}}},
      {"CR, LF, CRLF, blank lines and an unended last line",
       L"zh_CN",
       "Code\tlanguage_code\tzh_CN\rLanguage\tlanguage_name\tx\nLabel\ta\tA\rLabel\tb\tB\r\n\r\n\nLabel\tc\tC",
       {{L"a", true, L"A"}, {L"b", true, L"B"}, {L"c", true, L"C"}}},
      {"two tabs make an empty cell", L"zh_CN", kHead + "Label\tk\t\tB\n", {{L"k", true, L""}}},
      {"a tab at the end adds no cell",
       L"en_US",
       kHead + "Label\tk\t\tB\nLabel\tt\tA\t\n",
       {{L"k", true, L"B"}, {L"t", false, L""}}},
      {"cells of up to 512 units fit, longer ones become empty",
       L"zh_CN",
       kHead + "Label\tfit\t" + std::string(512, 'a') + "\nLabel\tlong\t" + std::string(513, 'a') + "\nLabel\twide\t" +
           repeat(kShi, 512) + "\nLabel\twider\t" + repeat(kShi, 513) + "\n",
       {{L"fit", true, std::wstring(512, L'a')},
        {L"long", true, L""},
        {L"wide", true, std::wstring(512, L'\u662F')},
        {L"wider", true, L""}}},
      {"a zero byte where a line starts ends the table",
       L"zh_CN",
       kHead + "Label\ta\tA\n" + std::string(1, '\0') + "Label\tb\tB\n",
       {{L"a", true, L"A"}, {L"b", false, L""}}},
      {"keys are not checked",
       L"zh_CN",
       kHead + "Label\tkey with space-\xC3\xA9!\tX\n",
       {{L"key with space-\u00E9!", true, L"X"}}},
  };
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.scenario);
    SkinResources skin;
    loadTable(skin, c.language, c.tsv);
    expectTexts(skin, c.expected);
  }
}

// The file next to the program decides when it opens: used from 1 byte to 4 MiB, and any other
// size (empty, 4 MiB + 1, 5 MiB) loads nothing without falling back; only without it does the
// skin lookup supply the table.
TEST(LanguageTableTest, ProgramFolderFileWindow) {
  std::wstring skinFolder = makeTempDir(L"skin");
  ASSERT_TRUE(writeFile(skinFolder + L"multi_language.tsv", kHead + "Label\tfrom\tskin\n"));
  const std::string program = kHead + "Label\tfrom\tprogram\n";
  auto padded = [&](size_t size) {
    std::string text = program;
    while (text.size() < size) text += "Label\tpad\tx\n";
    text.resize(size, 'x');  // the cut last line becomes a longer "pad" text
    return text;
  };
  struct {
    const char* scenario;
    bool fileExists;
    std::string content;
    const wchar_t* from;  // null: no table at all
  } cases[] = {
      {"no file: the skin lookup", false, "", L"skin"},     {"small file", true, program, L"program"},
      {"exactly 4 MiB", true, padded(4194304), L"program"}, {"empty file", true, "", nullptr},
      {"4 MiB + 1", true, padded(4194305), nullptr},        {"5 MiB", true, padded(5 * 1048576), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    std::wstring programFolder = makeTempDir(L"program");
    if (c.fileExists) {
      ASSERT_TRUE(writeFile(programFolder + L"multi_language.tsv", c.content));
    }
    SkinResources skin;
    skin.setLanguage(L"zh_CN", L"zh_CN");
    skin.setResourceFolder(skinFolder);
    skin.setProgramFolderForTesting(programFolder);
    skin.loadLanguageTable(L"multi_language.tsv");
    const std::wstring* from = skin.getText(L"from");
    ASSERT_EQ(from != nullptr, c.from != nullptr);
    if (from) {
      EXPECT_EQ(*from, c.from);
    }
  }
}

// "@" resolution: a known key shows its text; "@" alone, unknown keys and plain texts show as
// written; the language code falls back only when empty.
TEST(LanguageTableTest, ResolveTextAndLanguage) {
  SkinResources skin;
  skin.setText(L"minimize_tip", L"\u6700\u5C0F\u5316");
  skin.setText(L"", L"empty key");
  const struct {
    const wchar_t* text;
    const wchar_t* shown;
  } cases[] = {
      {L"@minimize_tip", L"\u6700\u5C0F\u5316"},
      {L"@", L"@"},
      {L"@install_onekey_install", L"@install_onekey_install"},
      {L"@Minimize_tip", L"@Minimize_tip"},
      {L"minimize_tip", L"minimize_tip"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(skin.resolveText(c.text), c.shown) << testing_support::wideToUtf8(c.text);

  skin.setLanguage(L"", L"zh_CN");
  EXPECT_EQ(skin.language(), L"zh_CN");
  skin.setLanguage(L"en_US", L"zh_CN");
  EXPECT_EQ(skin.language(), L"en_US");
}

// getUiText returns the table text, and for a missing key the key itself, which it also adds so
// the store then holds the key as its own text.
TEST(LanguageTableTest, GetUiTextAddsMissingKeys) {
  SkinResources& skin = SkinResources::instance();
  skin.setText(L"uitext_present", L"\u6B63\u5728");
  EXPECT_EQ(getUiText("uitext_present"), L"\u6B63\u5728");

  ASSERT_EQ(skin.getText(L"uitext_missing"), nullptr);
  EXPECT_EQ(getUiText("uitext_missing"), L"uitext_missing");
  const std::wstring* added = skin.getText(L"uitext_missing");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(*added, L"uitext_missing");
}
