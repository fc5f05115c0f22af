#include "platform/http.h"

namespace platform {

// WinINet is a system library, loaded with the program: nothing to prepare.
void prepareHttp() {}

}  // namespace platform
