# 32-bit Windows: the program the product's users run.
set(TESSMOOR_MINGW_TRIPLET i686-w64-mingw32)
set(TESSMOOR_MINGW_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
