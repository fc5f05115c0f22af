#include "platform/encoding.h"

#include <cerrno>
#include <iconv.h>

#include "platform/large_buffer.h"

namespace platform {
namespace {

// Owns one iconv conversion descriptor.
class Converter {
public:
    Converter(const char* fromCode, const char* toCode) : cd_(iconv_open(toCode, fromCode)) {}
    ~Converter() {
        if (valid()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// glibc declares iconv's input as char**, GNU libiconv (built with
// ICONV_CONST=const) as const char**: this converts to whichever it is.
struct InputBuffer {
    char** pointer;
    operator char**() const { return pointer; }
    operator const char**() const { return const_cast<const char**>(pointer); }
};

}  // namespace

Conversion convertEncoding(std::string_view input, const char* fromCode, const char* toCode) {
    Conversion result;
    Converter converter(fromCode, toCode);
    if (!converter.valid()) return result;

    // Converted straight into the result, with no second copy of a page of
    // megabytes. Sized for the usual case, an output no longer than the input
    // (ASCII, and Chinese from UTF-8 to GB18030), and grown when it is longer.
    std::string out = largeBuffer(input.size() + 16);
    std::size_t written = 0;
    char* in = const_cast<char*>(input.data());  // iconv only reads through it
    std::size_t inLeft = input.size();
    for (bool flushing = false;;) {
        char* outPtr = out.data() + written;
        std::size_t outLeft = out.size() - written;
        const std::size_t rc = flushing ? iconv(converter.get(), nullptr, nullptr, &outPtr, &outLeft)
                                        : iconv(converter.get(), InputBuffer{&in}, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        written = static_cast<std::size_t>(outPtr - out.data());
        if (rc != static_cast<std::size_t>(-1)) {
            if (flushing) break;
            flushing = true;  // emit any shift state the target needs
            continue;
        }
        if (error != E2BIG) {  // EILSEQ or EINVAL: nothing of the input counts
            result.errorOffset = static_cast<std::size_t>(in - input.data());
            result.incomplete = error == EINVAL;
            return result;
        }
        out.resize(out.size() + 2 * inLeft + 16);  // room for the rest at twice its size
    }
    out.resize(written);
    result.bytes = std::move(out);
    result.ok = true;
    return result;
}

std::string gb18030ToUtf8(std::string_view gb18030) { return convertEncoding(gb18030, "GB18030", "UTF-8").bytes; }

std::string utf8ToGb18030(std::string_view utf8) { return convertEncoding(utf8, "UTF-8", "GB18030").bytes; }

}  // namespace platform
