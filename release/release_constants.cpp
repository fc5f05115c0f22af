// The addresses that the build configures (see the top-level CMakeLists.txt).
#include "release/release_page_reader.h"
#include "release_addresses.h"

namespace release {

const std::string_view RELEASE_PAGE_URL = TESSMOOR_RELEASE_PAGE_URL;
const std::string_view DOWNLOAD_URL_PREFIX = TESSMOOR_DOWNLOAD_URL_PREFIX;

}  // namespace release
