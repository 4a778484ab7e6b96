// The model's pure rules: file-name and command-line parameters, the edition table, installer
// file names, install-folder completion, the configuration document and the conversion body.
#include <gtest/gtest.h>

#include "build_config.h"
#include "model/conversion_report.h"
#include "model/edition_catalog.h"
#include "model/install_path.h"
#include "model/installer_config.h"
#include "model/launch_params.h"
#include "test_support.h"

namespace ts = testing_support;

// The file-name table and its edge cases: four tokens, capitals, short package token, unknown type.
TEST(LaunchParams, FileNameTokens) {
  struct Case {
    const wchar_t* name;
    bool matched;
    const wchar_t* package;
    const wchar_t* openId;
    const wchar_t* baiduId;
    int edition;
  } cases[] = {
      {L"orvanta9_com.example.game_777_abc", true, L"com.example.game", L"777", L"", 3},
      {L"Orvanta9_com.example.game_777_ad_7_x", true, L"com.example.game", L"777", L"ad_7", 3},
      {L"orvanta64_abc_777_x", true, L"", L"777", L"", 2},
      {L"ORVANTA64_com.example.game_9_x", true, L"com.example.game", L"9", L"", 2},
      {L"orvanta6_com.example.game_9_x", true, L"com.example.game", L"9", L"", -1},
      {L"orvanta5(64)_abcde_1_x", true, L"", L"1", L"", 5},
      {L"orvanta3_abcdef_1__x", true, L"abcdef", L"1", L"", 0},
      {L" orvanta4 _ abcdefg _ 12 _ b1 _ b2 _z", true, L"abcdefg", L"12", L"b1_b2", 1},
      {L"setup", false, L"", L"", L"", -1},
      {L"a_b_c", false, L"", L"", L"", -1},
      {L"", false, L"", L"", L"", -1},
  };
  for (const Case& c : cases) {
    FileNameParams p = parseFileName(c.name);
    EXPECT_EQ(p.matched, c.matched) << c.name;
    EXPECT_EQ(p.package, c.package) << c.name;
    EXPECT_EQ(p.openId, c.openId) << c.name;
    EXPECT_EQ(p.baiduId, c.baiduId) << c.name;
    EXPECT_EQ(p.edition, c.edition) << c.name;
  }
}

// Command-line items: quotes removed only from texts over 5 characters, keys lower-cased and
// trimmed, the last repeat wins, items without "=" or with an empty key ignored.
TEST(LaunchParams, CommandLineItems) {
  auto items = parseCommandLineItems(L"\"name=Game One|apkurl=http://h/a.apk\"");
  EXPECT_EQ(items.size(), 2u);
  EXPECT_EQ(items[L"name"], L"Game One");
  EXPECT_EQ(items[L"apkurl"], L"http://h/a.apk");
  EXPECT_EQ(items.count(L"package"), 0u);

  items = parseCommandLineItems(L" Package = com.a | PACKAGE=com.b |junk| =x|url=a=b");
  EXPECT_EQ(items[L"package"], L"com.b");
  EXPECT_EQ(items[L"url"], L"a=b");
  EXPECT_EQ(items.size(), 2u);

  EXPECT_TRUE(parseCommandLineItems(L"|||||||").empty());
  EXPECT_EQ(parseCommandLineItems(L"\"a=b\"")[L"\"a"], L"b\"");  // at most 5 characters: quotes stay
  EXPECT_EQ(parseCommandLineItems(L"apkurl=")[L"apkurl"], L"");
}

// The edition table, with its configuration members, and the answers for another region.
TEST(EditionCatalogTest, EditionsAndRegions) {
  EditionCatalog c;
  struct Case {
    int edition;
    const wchar_t* name;
    const wchar_t* subdir;
    const wchar_t* key;
    const wchar_t* path;
    const char* member;
  } cases[] = {
      {0, L"Orvanta3", L"tessaro\\Orvanta3\\", L"Software\\Corvane2\\hivora", L"/download/release/qxinst3.0.exe", "rez"},
      {1, L"Orvanta4", L"tessaro\\Orvanta4\\", L"Software\\tessaro\\Orvanta", L"/download/release/qxinst4.0.exe", "rez4"},
      {2, L"Orvanta64", L"tessaro\\Orvanta64\\", L"Software\\tessaro\\Orvanta64", L"/download/release/qxinst64.exe", "rez64"},
      {3, L"Orvanta9", L"tessaro\\Orvanta9\\", L"Software\\tessaro\\Orvanta9", L"/download/release/qxinst9.0.exe", "rez9"},
      {4, L"Orvanta4", L"tessaro\\Orvanta4\\", L"Software\\tessaro\\Orvanta", L"/download/release/qxinst5.0.exe", "rez5"},
      {5, L"Orvanta64", L"tessaro\\Orvanta64\\", L"Software\\tessaro\\Orvanta64", L"/download/release/qxinst5(64).exe", "rez5(64)"},
      {9, L"Orvanta3", L"tessaro\\Orvanta3\\", L"Software\\Corvane2\\hivora", L"/download/release/qxinst3.0.exe", "rez"},
  };
  for (const Case& e : cases) {
    c.edition = e.edition;
    EXPECT_EQ(c.editionName(), e.name);
    EXPECT_EQ(c.installSubdir(), e.subdir);
    EXPECT_EQ(c.registryKey(), e.key);
    EXPECT_EQ(c.defaultInstallerUrl(), std::wstring(build::kReleaseCdn) + e.path);
    EXPECT_STREQ(c.configMember(), e.member);
  }
  c.region = L"kr";
  const wchar_t* names[] = {L"Orvanta3.0", L"Orvanta4.0", L"Orvanta64", L"Orvanta9", L"Orvanta3.0", L"Orvanta3.0"};
  const wchar_t* keys[] = {L"Software\\Corvane\\Orvanta",    L"Software\\Pellago\\Orvanta",
                           L"Software\\Pellago\\Orvanta64",  L"Software\\Pellago\\Orvanta9",
                           L"Software\\Pellago\\Orvanta",    L"Software\\Pellago\\Orvanta64"};
  for (int i = 0; i < 6; ++i) {
    c.edition = i;
    EXPECT_EQ(c.editionName(), names[i]);
    EXPECT_EQ(c.installSubdir(), std::wstring(L"Orvanta\\") + names[i] + L"\\");
    EXPECT_EQ(c.registryKey(), keys[i]);
  }
  EXPECT_EQ(languageFileForRegion(L"cn"), L"language\\downloader_cn.xml");
  for (const wchar_t* other : {L"de", L"tr", L"en", L""})
    EXPECT_EQ(languageFileForRegion(other), L"language\\downloader_en.xml");
}

// The installer's file name: one separator, "qxinst_" for cn, and an override only while it exists.
TEST(EditionCatalogTest, InstallerFileName) {
  EditionCatalog c;
  EXPECT_EQ(c.installerFileName(L"D:\\tessaro\\Orvanta9", L"9.0.63.2"), L"D:\\tessaro\\Orvanta9\\qxinst_9.0.63.2.exe");
  EXPECT_EQ(c.installerFileName(L"D:\\tessaro\\Orvanta9\\", L"9"), L"D:\\tessaro\\Orvanta9\\qxinst_9.exe");
  std::wstring dir = ts::makeTempDir(L"override");
  c.installerOverride = dir + L"qxinst_777.exe";
  EXPECT_EQ(c.installerFileName(L"D:\\x", L"9"), L"D:\\x\\qxinst_9.exe");  // stale: does not exist
  ASSERT_TRUE(ts::writeFile(c.installerOverride, "MZ"));
  EXPECT_EQ(c.installerFileName(L"D:\\x", L"9"), c.installerOverride);
  c.installerOverride.clear();
  c.region = L"tw";
  EXPECT_EQ(c.installerFileName(L"D:\\x", L"9"), L"D:\\x\\Orvanta_9.exe");
}

// Folder completion for the browse dialog's forward-slash texts and the prompts' drive roots.
TEST(InstallPathRules, CompletesChosenFolders) {
  InstallPathNames names{L"tessaro\\Orvanta9\\", L"Orvanta9", L"Orvanta"};
  auto valid = [](const std::wstring& p) { return p.size() >= 3 && p[1] == L':'; };
  struct Case {
    const wchar_t* chosen;
    const wchar_t* expected;
  } cases[] = {
      {L"F:/", L"F:\\Game\\"},
      {L"F:/tessaro", L"F:\\tessaro\\Orvanta9\\"},
      {L"F:/Apps", L"F:\\Apps\\Game\\"},
      {L"F:/Games/Emu", L"F:\\Games\\Emu\\"},
      {L"D:\\", L"D:\\tessaro\\Orvanta9\\"},
      {L"E:/Orvanta", L"E:\\Orvanta\\"},
      {L"E:/my tessaro/x", L"E:\\my tessaro\\x\\Game\\"},
      {L"G://a//b", L"G:\\a\\b\\Game\\"},
      {L"Game", L"Game\\Game"},  // invalid: stored untidied
  };
  for (const Case& c : cases) EXPECT_EQ(completeInstallPath(c.chosen, names, valid), c.expected) << c.chosen;
}

// The configuration document: the edition's member, strings only, parse errors reported.
TEST(InstallerConfigTest, ReadsTheEditionMember) {
  InstallerConfig cfg;
  EXPECT_TRUE(parseInstallerConfig(
      R"({"rez":{"url":"http://x/0"},"rez9":{"ver":"9.1","url":"http://h/i.exe","url_spare":"http://s/i.exe","vershow":"9"}})",
      "rez9", cfg));
  EXPECT_EQ(cfg.version, L"9.1");
  EXPECT_EQ(cfg.url, L"http://h/i.exe");
  EXPECT_EQ(cfg.spareUrl, L"http://s/i.exe");

  InstallerConfig partial;
  EXPECT_TRUE(parseInstallerConfig(R"({"rez9":{"ver":90,"url":"http://h/\u4e0b.exe"}})", "rez9", partial));
  EXPECT_EQ(partial.version, L"");
  EXPECT_EQ(partial.url, L"http://h/\u4e0b.exe");
  EXPECT_EQ(partial.spareUrl, L"");

  InstallerConfig none;
  for (const char* bad : {"", "[]", "{", "\"rez9\""}) EXPECT_FALSE(parseInstallerConfig(bad, "rez9", none)) << bad;
  EXPECT_TRUE(parseInstallerConfig(R"({"rez9":"http://h"})", "rez9", none));
  EXPECT_EQ(none.url, L"");
}

// The conversion body is compact JSON with the two members in order.
TEST(ConversionReport, CompactBody) {
  EXPECT_EQ(buildConversionBody(L"https://www.example.com/", L"abc", 5),
            "[{\"logidUrl\":\"https://www.example.com/?n=6120&bd_vid=abc\",\"newType\":5}]");
}
