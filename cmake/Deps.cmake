# orv_deps: libcurl (static, Schannel), the 7z decoder and the header-only libraries.
add_library(orv_deps INTERFACE)
target_include_directories(orv_deps SYSTEM INTERFACE
  ${DEPS_CURL_PREFIX}/include ${DEPS_LZMA_PREFIX}/include ${DEPS_HEADERS})
target_link_libraries(orv_deps INTERFACE
  ${DEPS_CURL_PREFIX}/lib/libcurl.a ${DEPS_LZMA_PREFIX}/lib/lib7zdec.a
  ws2_32 crypt32 bcrypt secur32 wininet wintrust iphlpapi shlwapi shell32 ole32 oleaut32 uuid
  advapi32 user32 gdi32 comctl32 msimg32 gdiplus imm32 version)
