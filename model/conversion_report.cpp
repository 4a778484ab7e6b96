#include "model/conversion_report.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "common/text_codec.h"

std::string buildConversionBody(const std::wstring& homePage, const std::wstring& baiduId, int conversionType) {
  std::string link = wideToUtf8(homePage + L"?n=6120&bd_vid=" + baiduId);
  rapidjson::Document doc(rapidjson::kArrayType);
  auto& alloc = doc.GetAllocator();
  rapidjson::Value item(rapidjson::kObjectType);
  item.AddMember("logidUrl", rapidjson::Value(link.c_str(), static_cast<rapidjson::SizeType>(link.size()), alloc),
                 alloc);
  item.AddMember("newType", conversionType, alloc);
  doc.PushBack(item, alloc);
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  doc.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}
