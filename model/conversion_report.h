// Body of the conversion report: compact JSON, [{"logidUrl":"<home>?n=6120&bd_vid=<id>","newType":N}].
#pragma once

#include <string>

std::string buildConversionBody(const std::wstring& homePage, const std::wstring& baiduId, int conversionType);
