#include "platform/large_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace platform {
namespace {

// Transparent huge pages on x86-64 and on most arm64 kernels.
constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

// Only advice: where the kernel has no transparent huge pages, or uses them
// for every mapping anyway, nothing changes.
void adviseHugePages(char* data, std::size_t size) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

std::string largeBuffer(std::size_t size) {
    std::string buffer;
    if (size >= HUGE_PAGE) {
        buffer.reserve(size);  // storage of its own, not yet touched
        adviseHugePages(buffer.data(), size);
    }
    buffer.resize(size);
    return buffer;
}

}  // namespace platform
