# 64-bit Windows: the same sources, for the tests under Wine (wine64).
set(TESSMOOR_MINGW_TRIPLET x86_64-w64-mingw32)
set(TESSMOOR_MINGW_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
