#include "resources/string_bundle.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "resources/resource_ids.h"
#include "resources/skin_resources.h"
#include "test_support.h"

namespace {

// The ids every shipped bundle holds: the table's keys without the two tooltips, plus "facebook".
const char* const kBundleIds[] = {"Title_wndTitle",
                                  "Label_installing_waiting",
                                  "Label_getversion_info",
                                  "Label_downloading",
                                  "Button_install_now",
                                  "Button_install_fast",
                                  "Button_start_player",
                                  "MsgBox_error",
                                  "MsgBox_accept_protocol",
                                  "MsgBox_error_path",
                                  "MsgBox_disk_notEnough",
                                  "Label_choice_path",
                                  "MSGBox_noice",
                                  "MsgBox_exit",
                                  "sure",
                                  "cancel",
                                  "browser",
                                  "Label_path_error",
                                  "Button_install_define",
                                  "Button_install_back",
                                  "protocol_accept",
                                  "protocol_accept_btn",
                                  "progress_downloading_label",
                                  "progress_downloading_label2",
                                  "progress_download_label",
                                  "progress_install_label",
                                  "progress_finish_label",
                                  "Label_installingapp_waiting",
                                  "homepage",
                                  "error",
                                  "download_error_content",
                                  "go_homePage",
                                  "installing_exit_tip",
                                  "Reject",
                                  "Accept",
                                  "Yes",
                                  "No",
                                  "accept_protocol",
                                  "titlename",
                                  "installSucess",
                                  "googleDriver_downloadingPage",
                                  "googleDriver_downloadLow",
                                  "googleDriver_downloadError",
                                  "install_error_tip",
                                  "download_error_tip",
                                  "reDownload",
                                  "download_error_tip2",
                                  "downloadBybrowser",
                                  "download_slowtip",
                                  "download_close",
                                  "facebook"};

// As the main window hands a bundle over: the bytes up to the first zero, UTF-8 to UTF-16, a
// byte-order mark kept as U+FEFF.
std::wstring bundleText(const std::string& bytes) { return testing_support::utf8ToWide(std::string(bytes.c_str())); }

}  // namespace

// Every shipped bundle, read from the package built into this program, is well formed and holds
// exactly the 51 ids; "kr" starts with a byte-order mark; "cn" says 是 for "Yes" and the English
// underline markup comes back unescaped.
TEST(StringBundleTest, ShippedBundlesLoad) {
  SkinResources skin;
  skin.setModule(GetModuleHandleW(nullptr));
  skin.setProgramFolderForTesting(testing_support::makeTempDir(L"bundles"));
  skin.loadPackage(IDR_SKIN_PACKAGE, L"multi_language.tsv");

  std::set<std::wstring> expectedIds;
  for (const char* id : kBundleIds) expectedIds.insert(testing_support::utf8ToWide(id));
  ASSERT_EQ(expectedIds.size(), 51u);

  std::map<std::wstring, std::map<std::wstring, std::wstring>> bundles;
  for (const wchar_t* code : {L"ar", L"cn", L"de", L"en", L"es", L"fa", L"fr", L"id", L"jp", L"kr", L"pt", L"ru", L"th",
                              L"tr", L"tw", L"vn"}) {
    SCOPED_TRACE(testing_support::wideToUtf8(code));
    std::string bytes;
    ASSERT_TRUE(skin.readFile(std::wstring(L"language\\downloader_") + code + L".xml", bytes));
    std::wstring text = bundleText(bytes);
    EXPECT_EQ(!text.empty() && text[0] == L'\uFEFF', std::wstring(code) == L"kr");
    std::map<std::wstring, std::wstring>& texts = bundles[code];
    ASSERT_TRUE(loadStringBundle(text, texts));
    std::set<std::wstring> ids;
    for (const auto& entry : texts) ids.insert(entry.first);
    EXPECT_EQ(ids, expectedIds);
  }
  EXPECT_EQ(bundles[L"cn"][L"Yes"], L"\u662F");
  EXPECT_EQ(bundles[L"cn"][L"No"], L"\u5426");
  EXPECT_EQ(bundles[L"en"][L"protocol_accept_btn"], L"<u>Licensing Protocol</u>");
}

// Only "String" children with both an id and a text count, later ones replace earlier ones, and
// a document that does not parse leaves the map untouched.
TEST(StringBundleTest, EntriesAndFailures) {
  std::map<std::wstring, std::wstring> texts{{L"kept", L"old"}};
  ASSERT_TRUE(
      loadStringBundle(L"\uFEFF<?xml version=\"1.0\"?>\r\n<Bundle>"
                       L"<String id=\"Yes\">\u662F</String>"
                       L"<String>no id</String>"
                       L"<String id=\"\">empty id</String>"
                       L"<String id=\"empty\"></String>"
                       L"<String id=\"self\"/>"
                       L"<Other id=\"other\">skipped</Other>"
                       L"<string id=\"lower\">skipped</string>"
                       L"<String id=\"kept\">new</String>"
                       L"<String id=\"Yes\">\u662F\u7684</String>"
                       L"</Bundle>",
                       texts));
  std::map<std::wstring, std::wstring> expected{{L"Yes", L"\u662F\u7684"}, {L"kept", L"new"}};
  EXPECT_EQ(texts, expected);

  EXPECT_TRUE(loadStringBundle(L"<StringBundle ver=\"100\"/>", texts));
  EXPECT_FALSE(loadStringBundle(L"<StringBundle><String id=\"x\">y</String>", texts));
  EXPECT_FALSE(loadStringBundle(L"", texts));
  EXPECT_EQ(texts, expected);
}
