// release-check: reads a release page the way the updater does and tells the
// page's maintainer what the updater would take from it, and why a value is empty.
//
//   release-check [--field NAME] [SOURCE]
//
// Exit 0 when download1Url, latestVersion and download2Url are all non-empty,
// 1 when any of them is empty, 2 for a usage error or an unreadable SOURCE.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/encoding.h"
#include "platform/http.h"
#include "platform/large_buffer.h"
#include "platform/shell.h"
#include "release/release_page_reader.h"

// The one platform-specific spot: standard streams carry bytes unchanged (no
// CR LF translation, which would alter both pages and --field output), and
// on Windows the arguments come from the wide command line, since argv is in
// the ANSI code page there.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

namespace {

void useBinaryStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);  // the report is UTF-8
}

std::vector<std::string> utf8Arguments(int, char**) {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? size - 1 : 0, '\0');
        if (size > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
        args.push_back(std::move(arg));
    }
    LocalFree(wide);
    return args;
}

std::filesystem::path pathFromArgument(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace
#else
namespace {

void useBinaryStandardStreams() {}

std::vector<std::string> utf8Arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

// File names are bytes here; taken as they are.
std::filesystem::path pathFromArgument(const std::string& name) { return name; }

}  // namespace
#endif

namespace {

using release::Position;
using release::ReleaseInfo;
using release::Text;

constexpr int EXIT_COMPLETE = 0;
constexpr int EXIT_INCOMPLETE = 1;
constexpr int EXIT_USAGE = 2;

struct Field {
    std::string_view name;
    Text ReleaseInfo::*member;
};

constexpr Field FIELDS[] = {
    {"pageText", &ReleaseInfo::pageText},
    {"link1Raw", &ReleaseInfo::link1Raw},
    {"link2Raw", &ReleaseInfo::link2Raw},
    {"download1Url", &ReleaseInfo::download1Url},
    {"latestVersion", &ReleaseInfo::latestVersion},
    {"download2Url", &ReleaseInfo::download2Url},
};

const Field* fieldNamed(std::string_view name) {
    for (const Field& field : FIELDS)
        if (field.name == name) return &field;
    return nullptr;
}

void printHelp() {
    std::printf(
        "Usage: release-check [--field NAME] [SOURCE]\n"
        "\n"
        "Reads a release page the way the updater does (UTF-8 converted to GB18030,\n"
        "then the two link assignments and the version taken out of it) and shows\n"
        "what the updater would take from it.\n"
        "\n"
        "SOURCE\n"
        "  http://... or https://...  fetched with the updater's own client and request\n"
        "  -                          standard input, taken as the response body\n"
        "  FILE                       a file whose bytes are taken as the response body\n"
        "  (none)                     the built-in release page:\n"
        "                             %.*s\n"
        "\n"
        "Options\n"
        "  --field NAME  print exactly that field's bytes on standard output and\n"
        "                nothing else: GB18030, as the updater holds them, no newline.\n"
        "                NAME is one of pageText, link1Raw, link2Raw, download1Url,\n"
        "                latestVersion, download2Url.\n"
        "  --help        show this help and exit\n"
        "  --            the next argument is SOURCE even if it begins with -\n"
        "\n"
        "Without --field, a short report in UTF-8: the latest version and the two\n"
        "download addresses; for each empty one, why (no body; body not UTF-8\n"
        "throughout, with the byte offset of the first bad sequence; marker missing;\n"
        "no end marker after it, and whether the page has LF line ends; first address\n"
        "without the prefix and suffix); and a warning for each address that the\n"
        "updater would refuse to open.\n"
        "\n"
        "The page must hold, each on a line ending in CR LF:\n"
        "  var link1 = \"%.*sVERSION%.*s\";\n"
        "  var link2 = \"SECOND ADDRESS\";\n"
        "\n"
        "Exit status\n"
        "  0  download1Url, latestVersion and download2Url are all non-empty\n"
        "  1  any of them is empty\n"
        "  2  usage error, or SOURCE cannot be read\n",
        static_cast<int>(release::RELEASE_PAGE_URL.size()), release::RELEASE_PAGE_URL.data(),
        static_cast<int>(release::DOWNLOAD_URL_PREFIX.size()), release::DOWNLOAD_URL_PREFIX.data(),
        static_cast<int>(release::DOWNLOAD_URL_SUFFIX.size()), release::DOWNLOAD_URL_SUFFIX.data());
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "release-check: %s (see release-check --help)\n", message.c_str());
    return EXIT_USAGE;
}

// ------------------------------------------------------------------ input

enum class SourceKind { BuiltIn, Url, StandardInput, File };

struct Source {
    SourceKind kind = SourceKind::BuiltIn;
    std::string name;  // address or file name
};

Source sourceFrom(const std::optional<std::string>& argument) {
    if (!argument) return {SourceKind::BuiltIn, std::string(release::RELEASE_PAGE_URL)};
    const std::string_view arg = *argument;
    if (arg.starts_with("http://") || arg.starts_with("https://")) return {SourceKind::Url, *argument};
    if (arg == "-") return {SourceKind::StandardInput, "standard input"};
    return {SourceKind::File, *argument};
}

bool readStream(std::FILE* stream, std::string& bytes) {
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) bytes.append(buffer, got);
    return !std::ferror(stream);
}

bool readFile(const std::string& name, std::string& bytes) {
    const std::filesystem::path path = pathFromArgument(name);
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return false;
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    // Straight into the body for a regular file; a file that changes size
    // meanwhile, or has none to tell (a pipe), is read on in pieces.
    const std::streamoff size = file.seekg(0, std::ios::end) ? std::streamoff(file.tellg()) : -1;
    if (size > 0 && file.seekg(0)) {
        bytes = platform::largeBuffer(static_cast<std::size_t>(size));
        file.read(bytes.data(), size);
        bytes.resize(static_cast<std::size_t>(file.gcount()));
    } else {
        file.clear();  // a pipe cannot seek; nothing of it was read yet
    }
    char buffer[1 << 16];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0)
        bytes.append(buffer, static_cast<std::size_t>(file.gcount()));
    return !file.bad();
}

// ----------------------------------------------------------------- report

std::string hexByte(unsigned char byte) {
    const char* digits = "0123456789ABCDEF";
    return {digits[byte >> 4], digits[byte & 15]};
}

// UTF-8 for the terminal, with control bytes made visible: a stray CR or tab
// in an address is exactly what a maintainer needs to see.
std::string shown(std::string_view gb18030) {
    const platform::Conversion utf8 = platform::convertEncoding(gb18030, release::TEXT_ENCODING, "UTF-8");
    std::string out;
    for (const char c : utf8.ok ? std::string_view(utf8.bytes) : gb18030) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (byte < 0x20 || byte == 0x7F || (!utf8.ok && byte >= 0x80))
            out += "\\x" + hexByte(byte);
        else
            out += c;
    }
    return out;
}

std::string quoted(std::string_view gb18030) {
    std::string out = "'";
    out += shown(gb18030);
    out += '\'';
    return out;
}

// True when the bytes from offset on are the start of a UTF-8 sequence that
// the body's end cut short.
bool cutShortSequence(std::string_view body, std::size_t offset) {
    if (offset >= body.size()) return false;
    const auto lead = static_cast<unsigned char>(body[offset]);
    const std::size_t length = lead > 0xF4 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || body.size() - offset >= length) return false;
    for (std::size_t i = offset + 1; i < body.size(); ++i)
        if ((static_cast<unsigned char>(body[i]) & 0xC0) != 0x80) return false;
    return true;
}

// Why the page text is empty, or a note when a zero byte cut it short.
struct PageDiagnosis {
    std::string whyEmpty;  // why the page text is empty; empty when it is not
    std::string note;      // something a maintainer should know even so
};

PageDiagnosis diagnosePage(const Source& source, std::string_view body, const ReleaseInfo& info) {
    PageDiagnosis d;
    if (body.empty()) {
        d.whyEmpty = source.kind == SourceKind::File          ? "no body: the file is empty"
                     : source.kind == SourceKind::StandardInput ? "no body: standard input is empty"
                                                                : "no body: the request failed (no answer, refused, "
                                                                  "timed out, or over 16 MiB) or the page is empty";
        return d;
    }
    const platform::Conversion converted =
        platform::convertEncoding(body, release::PAGE_ENCODING, release::TEXT_ENCODING);
    if (!converted.ok) {
        const std::size_t at = converted.errorOffset;
        std::string bytes;
        for (std::size_t i = at; i < body.size() && i < at + 4; ++i)
            bytes += (bytes.empty() ? "" : " ") + hexByte(static_cast<unsigned char>(body[i]));
        d.whyEmpty = cutShortSequence(body, at)
                         ? "the body is not UTF-8 throughout: it ends inside a sequence at byte offset " +
                               std::to_string(at) + " (bytes " + bytes + ")"
                         : "the body is not UTF-8 throughout: the first bad sequence is at byte offset " +
                               std::to_string(at) + " (bytes " + bytes + ")";
        return d;
    }
    const std::size_t zero = body.find('\0');
    if (zero != std::string_view::npos) {
        const std::string where = "the body holds a zero byte at byte offset " + std::to_string(zero) +
                                  ", where the updater's page text ends";
        if (info.pageText.empty())
            d.whyEmpty = where;
        else
            d.note = where;
    }
    return d;
}

std::string lineEndHint(std::string_view pageText) {
    const bool hasLf = pageText.find('\n') != std::string_view::npos;
    const bool hasCrLf = pageText.find("\r\n") != std::string_view::npos;
    if (hasLf && !hasCrLf)
        return "; the page has LF line ends: each assignment must end in a double quote, a semicolon and CR LF";
    return "";
}

// Why downloadNUrl is empty although the page text is not.
std::string whyLinkEmpty(const ReleaseInfo& info, std::string_view marker, std::string_view linkName) {
    const std::string_view page = info.pageText;
    const Position a = release::findText(page, marker, 0, false);
    if (a == release::NOT_FOUND) {
        std::string why = "the page has no " + quoted(marker);
        const std::string_view name = marker.substr(0, marker.find(' ', 4));  // "var linkN"
        if (release::findText(page, marker, 0, true) != release::NOT_FOUND)
            why += " (only with other letter case; the marker is case-sensitive)";
        else if (release::findText(page, name, 0, false) != release::NOT_FOUND)
            why += " (it has " + quoted(name) + ", but not followed by exactly ' = \"')";
        return why;
    }
    const Position c = release::findText(page, release::LINK_END_MARKER, a, false);
    if (c == release::NOT_FOUND) {
        std::string why = "no end marker (double quote, semicolon, CR) after " + quoted(marker) + lineEndHint(page);
        if (why.find("LF line ends") == std::string::npos &&
            release::findText(page, "\";\n", a, false) != release::NOT_FOUND)
            why += "; the line of " + std::string(linkName) + " ends in LF alone, without CR";
        return why;
    }
    const Position valueStart = a + release::textLength(marker);
    const Text value = release::midText(page, valueStart, c - valueStart);
    if (value.empty()) return "the value after " + quoted(marker) + " is empty";
    if (value.starts_with(release::LINK_SENTINEL))
        return "the value begins with " + quoted(release::LINK_SENTINEL) + ", where the updater cuts it off";
    return "the value could not be taken out";  // not reached with the rules as they are
}

std::string whyVersionEmpty(const ReleaseInfo& info) {
    if (info.download1Url.empty()) return "download 1 is empty";
    const std::string_view url = info.download1Url;
    const std::string prefix = "DOWNLOAD_URL_PREFIX " + quoted(release::DOWNLOAD_URL_PREFIX);
    const std::string suffix = "DOWNLOAD_URL_SUFFIX " + quoted(release::DOWNLOAD_URL_SUFFIX);
    const Position p = release::findText(url, release::DOWNLOAD_URL_PREFIX, 0, false);
    if (p == release::NOT_FOUND)
        return "download 1 does not contain " + prefix + " (followed by the version and " + suffix + ")";
    if (release::findText(url, release::DOWNLOAD_URL_SUFFIX, p + release::textLength(release::DOWNLOAD_URL_PREFIX),
                          false) == release::NOT_FOUND)
        return "download 1 has no " + suffix + " after " + prefix;
    return "nothing stands between " + prefix + " and " + suffix + " in download 1";
}

// Why the updater's shell check refuses an address (platform::isOpenableAddress).
std::string whyNotOpenable(std::string_view address) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    std::string head;
    for (const char c : address.substr(0, 8)) head += lower(c);
    const bool http = head.starts_with("http://");
    if (!http && !head.starts_with("https://")) return "it does not begin with http:// or https://";
    if (address.size() == (http ? 7u : 8u)) return "nothing follows the scheme";
    for (std::size_t i = 0; i < address.size(); ++i) {
        const auto byte = static_cast<unsigned char>(address[i]);
        if (byte < 0x21 || byte == 0x7F || byte == '"')
            return "it holds " + std::string(byte == ' ' ? "a space" : byte == '"' ? "a double quote" : "a control byte") +
                   " (0x" + hexByte(byte) + ") at byte offset " + std::to_string(i);
    }
    return "it is not a plain web address";
}

void printReport(const Source& source, std::string_view body, const ReleaseInfo& info) {
    std::printf("source:         %s (%s bytes)\n", source.name.c_str(), std::to_string(body.size()).c_str());
    const PageDiagnosis page = diagnosePage(source, body, info);
    if (!page.whyEmpty.empty())
        std::printf("page text:      (empty) %s\n", page.whyEmpty.c_str());
    else
        std::printf("page text:      %s bytes of GB18030\n", std::to_string(info.pageText.size()).c_str());
    if (!page.note.empty()) std::printf("note:           %s\n", page.note.c_str());

    const auto printValue = [&](const char* label, const Text& value, auto whyEmpty) {
        const std::string labelled = std::string(label) + ":";
        if (!value.empty())
            std::printf("%-15s %s\n", labelled.c_str(), shown(value).c_str());
        else
            std::printf("%-15s (empty) %s\n", labelled.c_str(),
                        page.whyEmpty.empty() ? whyEmpty().c_str() : "the page text is empty");
    };
    printValue("latest version", info.latestVersion, [&] { return whyVersionEmpty(info); });
    printValue("download 1", info.download1Url, [&] { return whyLinkEmpty(info, release::LINK1_MARKER, "link1"); });
    printValue("download 2", info.download2Url, [&] { return whyLinkEmpty(info, release::LINK2_MARKER, "link2"); });

    const struct {
        const char* label;
        const Text& url;
        std::string_view marker;
    } links[] = {{"download 1", info.download1Url, release::LINK1_MARKER},
                 {"download 2", info.download2Url, release::LINK2_MARKER}};
    for (const auto& link : links) {
        if (link.url.empty()) continue;
        if (!platform::isOpenableAddress(link.url))
            std::printf("warning: the updater would not open %s: %s\n", link.label, whyNotOpenable(link.url).c_str());
        if (link.url.find('\n') != std::string::npos)
            std::printf("warning: %s runs over a line break: the line of %s probably does not end in "
                        "a double quote, a semicolon and CR LF\n",
                        link.label, quoted(link.marker).c_str());
        // The sentinel inside a value cuts it: the page's value is longer than the address.
        const Position a = release::findText(info.pageText, link.marker, 0, false);
        const Position c = release::findText(info.pageText, release::LINK_END_MARKER, a, false);
        const Position valueLength = c - a - release::textLength(link.marker);
        if (a != release::NOT_FOUND && c != release::NOT_FOUND && valueLength > release::textLength(link.url))
            std::printf("warning: %s is cut at %s inside its value\n", link.label,
                        quoted(release::LINK_SENTINEL).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    useBinaryStandardStreams();
    const std::vector<std::string> args = utf8Arguments(argc, argv);

    const Field* field = nullptr;
    std::optional<std::string> sourceArgument;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            printHelp();
            return EXIT_COMPLETE;
        }
        if (!optionsEnded && arg == "--field") {
            if (field != nullptr) return usageError("--field given twice");
            if (i + 1 == args.size()) return usageError("--field needs a NAME");
            field = fieldNamed(args[++i]);
            if (field == nullptr) return usageError("unknown field '" + args[i] + "'");
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option '" + arg + "'");
        } else if (sourceArgument) {
            return usageError("more than one SOURCE");
        } else {
            sourceArgument = arg;
        }
    }

    const Source source = sourceFrom(sourceArgument);
    std::string body;
    switch (source.kind) {
        case SourceKind::BuiltIn:
        case SourceKind::Url:
            body = platform::httpGet(source.name);
            break;
        case SourceKind::StandardInput:
            if (!readStream(stdin, body)) {
                std::fprintf(stderr, "release-check: cannot read standard input\n");
                return EXIT_USAGE;
            }
            break;
        case SourceKind::File:
            if (!readFile(source.name, body)) {
                std::fprintf(stderr, "release-check: cannot read '%s'\n", source.name.c_str());
                return EXIT_USAGE;
            }
            break;
    }

    ReleaseInfo info;
    release::extractReleaseInfo(body, info);

    if (field != nullptr) {
        const Text& bytes = info.*(field->member);
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    } else {
        printReport(source, body, info);
    }
    std::fflush(stdout);
    const bool complete = !info.download1Url.empty() && !info.latestVersion.empty() && !info.download2Url.empty();
    return complete ? EXIT_COMPLETE : EXIT_INCOMPLETE;
}
