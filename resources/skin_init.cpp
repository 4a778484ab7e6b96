#include "resources/skin_init.h"

#include "common/log.h"
#include "resources/resource_ids.h"
#include "resources/skin_resources.h"
#include "utility/ufile.h"

namespace resources {

void initSkin(HINSTANCE instance) {
  SkinResources& skin = SkinResources::instance();
  skin.setModule(instance);
  skin.setLanguage(L"zh_CN", L"zh_CN");
  skin.setResourceFolder(utility::ufile::getModuleDir() + L"skin");
  skin.loadPackage(IDR_SKIN_PACKAGE, L"multi_language.tsv");
  common::log("wWinMain", __LINE__, L"skinInit2 end");
}

}  // namespace resources
