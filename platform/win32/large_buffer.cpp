#include "platform/large_buffer.h"

namespace platform {

// Large pages need a privilege that users do not have: an ordinary string.
std::string largeBuffer(std::size_t size) { return std::string(size, '\0'); }

}  // namespace platform
