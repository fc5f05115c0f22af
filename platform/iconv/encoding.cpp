#include "platform/encoding.h"

#include <cerrno>
#include <iconv.h>

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

    // Converted through a small piece buffer and appended: only the bytes that
    // come out are ever touched, not a zero-filled worst case of twice the input.
    std::string out;
    out.reserve(input.size() + input.size() / 4 + 16);
    char piece[64 * 1024];
    char* in = const_cast<char*>(input.data());  // iconv only reads through it
    std::size_t inLeft = input.size();
    for (bool flushing = false;;) {
        char* outPtr = piece;
        std::size_t outLeft = sizeof piece;
        const std::size_t rc = flushing ? iconv(converter.get(), nullptr, nullptr, &outPtr, &outLeft)
                                        : iconv(converter.get(), InputBuffer{&in}, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(piece, static_cast<std::size_t>(outPtr - piece));
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
    }
    result.bytes = std::move(out);
    result.ok = true;
    return result;
}

std::string gb18030ToUtf8(std::string_view gb18030) { return convertEncoding(gb18030, "GB18030", "UTF-8").bytes; }

std::string utf8ToGb18030(std::string_view utf8) { return convertEncoding(utf8, "UTF-8", "GB18030").bytes; }

}  // namespace platform
