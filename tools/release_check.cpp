// release-check: reads a release page the way the updater does and tells the
// page's maintainer what the updater would take from it, and why a value is empty.
//
//   release-check [--field NAME] [SOURCE]
//   release-check --version
//
// Exit 0 when download1Url, latestVersion and download2Url are all non-empty,
// 1 when any of them is empty, 2 for a usage error or an unreadable SOURCE.
#include <chrono>
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
// CR LF translation, which would alter both pages and --field output), the
// console shows UTF-8 while release-check runs and its own code page again
// afterwards, and on Windows the arguments come from the wide command line,
// since argv is in the ANSI code page there.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

namespace {

class StandardStreams {
public:
    StandardStreams() : codePage_(GetConsoleOutputCP()) {
        _setmode(_fileno(stdin), _O_BINARY);
        _setmode(_fileno(stdout), _O_BINARY);
        if (codePage_ != 0) SetConsoleOutputCP(CP_UTF8);  // the report is UTF-8
    }
    // The console outlives release-check: what is still buffered goes out in
    // UTF-8, then the console gets back the code page it had.
    ~StandardStreams() {
        std::fflush(stdout);
        if (codePage_ != 0) SetConsoleOutputCP(codePage_);
    }
    StandardStreams(const StandardStreams&) = delete;
    StandardStreams& operator=(const StandardStreams&) = delete;

private:
    UINT codePage_;  // 0: no console
};

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

struct StandardStreams {};  // bytes already, on every stream

std::vector<std::string> utf8Arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

// File names are bytes here; taken as they are.
std::filesystem::path pathFromArgument(const std::string& name) { return name; }

}  // namespace
#endif

namespace {

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
        "  --version     show the version and exit\n"
        "  --            the next argument is SOURCE even if it begins with -\n"
        "\n"
        "Without --field, a short report in UTF-8: for an address, how the request\n"
        "ended (the status that answered, or refused, timed out, over the size cap,\n"
        "too many redirects, ...); the latest version and the two download\n"
        "addresses; for each empty one, why (no body; body not UTF-8\n"
        "throughout, with the byte offset of the first bad sequence; marker missing;\n"
        "no end marker after it, and whether the page has LF line ends; first address\n"
        "without the prefix and suffix); and a warning for each address that the\n"
        "updater would refuse to open, and for each one that is plain http\n"
        "(except to a loopback address).\n"
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

std::string seconds(std::chrono::milliseconds limit) {
    const auto ms = limit.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string withDetail(std::string text, const platform::HttpOutcome& outcome) {
    if (!outcome.detail.empty()) text += " (" + outcome.detail + ")";
    return text;
}

// What httpGet says happened, in words; limits are the ones it was given.
std::string fetchReport(const platform::HttpOutcome& outcome, const platform::HttpLimits& limits) {
    using platform::HttpEnd;
    const std::string status = std::to_string(outcome.status);
    switch (outcome.end) {
        case HttpEnd::Answered:
            return "answered with status " + status +
                   (outcome.status >= 400 ? " (the updater searches the body all the same)" : "");
        case HttpEnd::CutShort:
            return withDetail(outcome.status == 0 ? "the connection closed before any answer"
                                                  : "answered with status " + status +
                                                        ", but the connection closed before the body's end: the "
                                                        "updater uses the body as far as it arrived",
                              outcome);
        case HttpEnd::Unreachable:
            return withDetail("the connection was refused or the host is unreachable", outcome);
        case HttpEnd::HostNotFound: return withDetail("the host name does not resolve", outcome);
        case HttpEnd::ConnectTimedOut:
            return withDetail("no connection within " + seconds(limits.connectTimeout), outcome);
        case HttpEnd::TimedOut:
            return withDetail(outcome.status == 0 ? "timed out: no answer within " + seconds(limits.totalTimeout)
                                                  : "answered with status " + status + ", but timed out after " +
                                                        seconds(limits.totalTimeout) +
                                                        ": the updater uses the body as far as it arrived",
                              outcome);
        case HttpEnd::OverCap:
            return "the body is over " + std::to_string(limits.maxBodyBytes >> 20) +
                   " MiB, which the updater counts as no body";
        case HttpEnd::TooManyRedirects:
            return "more than " + std::to_string(limits.maxRedirects) + " redirects (the last answered " + status + ")";
        case HttpEnd::RedirectSchemeRefused:
            return "redirected to an address that is neither http nor https, which the updater does not follow";
        case HttpEnd::CertificateNotTrusted: return withDetail("the server's certificate is not trusted", outcome);
        case HttpEnd::Failed: break;
    }
    return withDetail("the request failed", outcome);
}

std::string whyPageEmpty(const Source& source, std::string_view body, const release::PageTrace& page,
                         const platform::HttpOutcome& fetch) {
    using release::PageProblem;
    std::string bytes;
    for (std::size_t i = page.badOffset; i < body.size() && i < page.badOffset + 4; ++i) {
        if (!bytes.empty()) bytes += ' ';  // not `"" + hexByte(...)`: a false -Wrestrict of GCC 12 at -O3
        bytes += hexByte(static_cast<unsigned char>(body[i]));
    }
    const std::string at = std::to_string(page.badOffset);
    switch (page.problem) {
        case PageProblem::NoBody:
            if (source.kind == SourceKind::File) return "no body: the file is empty";
            if (source.kind == SourceKind::StandardInput) return "no body: standard input is empty";
            return fetch.end == platform::HttpEnd::Answered ? "no body: the page is empty"
                                                            : "no body: the request failed (see fetch)";
        case PageProblem::NotUtf8:
            return "the body is not UTF-8 throughout: the first bad sequence is at byte offset " + at + " (bytes " +
                   bytes + ")";
        case PageProblem::EndsInsideSequence:
            return "the body is not UTF-8 throughout: it ends inside a sequence at byte offset " + at + " (bytes " +
                   bytes + ")";
        case PageProblem::ZeroByteFirst:
            return "the body holds a zero byte at byte offset 0, where the updater's page text ends";
        case PageProblem::None: break;
    }
    return "";
}

std::string whyLinkEmpty(const release::LinkTrace& link, bool lfLineEndsOnly, std::string_view marker,
                         std::string_view linkName) {
    using release::LinkProblem;
    switch (link.problem) {
        case LinkProblem::NoPageText: return "the page text is empty";
        case LinkProblem::NoMarker: {
            std::string why = "the page has no " + quoted(marker);
            const std::string_view name = marker.substr(0, marker.find(' ', 4));
            if (link.markerInOtherCase)
                why += " (only with other letter case; the marker is case-sensitive)";
            else if (link.nameWithoutMarker)
                why += " (it has " + quoted(name) + ", but not followed by exactly ' = \"')";
            return why;
        }
        case LinkProblem::NoEndMarker: {
            std::string why = "no end marker (double quote, semicolon, CR) after " + quoted(marker);
            if (lfLineEndsOnly)
                why += "; the page has LF line ends: each assignment must end in a double quote, a semicolon and CR LF";
            else if (link.endsInLfAlone)
                why += "; the line of " + std::string(linkName) + " ends in LF alone, without CR";
            return why;
        }
        case LinkProblem::EmptyValue: return "the value after " + quoted(marker) + " is empty";
        case LinkProblem::SentinelFirst:
            return "the value begins with " + quoted(release::LINK_SENTINEL) + ", where the updater cuts it off";
        case LinkProblem::None: break;
    }
    return "";
}

std::string whyVersionEmpty(release::VersionProblem problem) {
    using release::VersionProblem;
    const std::string prefix = "DOWNLOAD_URL_PREFIX " + quoted(release::DOWNLOAD_URL_PREFIX);
    const std::string suffix = "DOWNLOAD_URL_SUFFIX " + quoted(release::DOWNLOAD_URL_SUFFIX);
    switch (problem) {
        case VersionProblem::NoDownload1: return "download 1 is empty";
        case VersionProblem::NoPrefix:
            return "download 1 does not contain " + prefix + " (followed by the version and " + suffix + ")";
        case VersionProblem::NoSuffix: return "download 1 has no " + suffix + " after " + prefix;
        case VersionProblem::NothingBetween:
            return "nothing stands between " + prefix + " and " + suffix + " in download 1";
        case VersionProblem::None: break;
    }
    return "";
}

// Plain http to a host off this machine; loopback addresses (test and demo
// pages) never cross a network. Letters in any case, as the shell check takes them.
bool isPlainHttpOffLoopback(std::string_view address) {
    std::string lower(address);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!lower.starts_with("http://")) return false;
    const std::string_view rest = std::string_view(lower).substr(7);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority == "[::1]" || authority.starts_with("[::1]:")) return false;
    const std::string_view host = authority.substr(0, authority.find(':'));
    if (host == "localhost") return false;
    return !(host.starts_with("127.") && host.find_first_not_of("0123456789.") == std::string_view::npos);
}

// Why the updater's shell check refuses an address, as platform::checkAddress reports it.
std::string whyNotOpenable(std::string_view address, const platform::AddressCheck& check) {
    using platform::AddressProblem;
    const std::string at = " at byte offset " + std::to_string(check.offset);
    const std::string byte =
        check.offset < address.size() ? " (0x" + hexByte(static_cast<unsigned char>(address[check.offset])) + ")" : "";
    switch (check.problem) {
        case AddressProblem::NotWebScheme: return "it does not begin with http:// or https://";
        case AddressProblem::NothingAfterScheme: return "nothing follows the scheme";
        case AddressProblem::Space: return "it holds a space" + byte + at;
        case AddressProblem::ControlByte: return "it holds a control byte" + byte + at;
        case AddressProblem::DoubleQuote: return "it holds a double quote" + byte + at;
        case AddressProblem::TooLong:
            return "it is longer than " + std::to_string(platform::MAX_ADDRESS_UNITS) +
                   " characters (UTF-16 units), the most that Windows takes; the character" + at + " is one too many";
        case AddressProblem::None: break;
    }
    return "";
}

void printReport(const Source& source, std::string_view body, const ReleaseInfo& info,
                 const release::ExtractionTrace& trace, const platform::HttpOutcome* fetch) {
    std::printf("source:         %s (%s bytes)\n", source.name.c_str(), std::to_string(body.size()).c_str());
    if (fetch != nullptr) std::printf("fetch:          %s\n", fetchReport(*fetch, platform::HttpLimits{}).c_str());
    const release::PageTrace& page = trace.page;
    if (page.problem != release::PageProblem::None)
        std::printf("page text:      (empty) %s\n",
                    whyPageEmpty(source, body, page, fetch ? *fetch : platform::HttpOutcome{}).c_str());
    else
        std::printf("page text:      %s bytes of GB18030\n", std::to_string(info.pageText.size()).c_str());
    if (page.problem == release::PageProblem::None && page.zeroByte != std::string_view::npos)
        std::printf("note:           the body holds a zero byte at byte offset %s, where the updater's page "
                    "text ends\n",
                    std::to_string(page.zeroByte).c_str());

    const auto printValue = [&](const char* label, const Text& value, const std::string& whyEmpty) {
        const std::string labelled = std::string(label) + ":";
        if (!value.empty())
            std::printf("%-15s %s\n", labelled.c_str(), shown(value).c_str());
        else
            std::printf("%-15s (empty) %s\n", labelled.c_str(),
                        page.problem == release::PageProblem::None ? whyEmpty.c_str() : "the page text is empty");
    };
    printValue("latest version", info.latestVersion, whyVersionEmpty(trace.version));
    printValue("download 1", info.download1Url,
               whyLinkEmpty(trace.link1, page.lfLineEndsOnly, release::LINK1_MARKER, "link1"));
    printValue("download 2", info.download2Url,
               whyLinkEmpty(trace.link2, page.lfLineEndsOnly, release::LINK2_MARKER, "link2"));

    const struct {
        const char* label;
        const Text& url;
        std::string_view marker;
        const release::LinkTrace& trace;
    } links[] = {{"download 1", info.download1Url, release::LINK1_MARKER, trace.link1},
                 {"download 2", info.download2Url, release::LINK2_MARKER, trace.link2}};
    for (const auto& link : links) {
        if (link.url.empty()) continue;
        const platform::AddressCheck check = platform::checkAddress(link.url);
        if (check.problem != platform::AddressProblem::None)
            std::printf("warning: the updater would not open %s: %s\n", link.label,
                        whyNotOpenable(link.url, check).c_str());
        if (isPlainHttpOffLoopback(link.url))
            std::printf("warning: %s is plain http: anyone on the network path between the users and that "
                        "server can change the address users are sent to; an https:// address avoids it\n",
                        link.label);
        if (link.url.find('\n') != std::string::npos)
            std::printf("warning: %s runs over a line break: the line of %s probably does not end in "
                        "a double quote, a semicolon and CR LF\n",
                        link.label, quoted(link.marker).c_str());
        if (link.trace.cutAtSentinel)
            std::printf("warning: %s is cut at %s inside its value\n", link.label,
                        quoted(release::LINK_SENTINEL).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    [[maybe_unused]] const StandardStreams standardStreams{};
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
        if (!optionsEnded && arg == "--version") {
            std::printf("release-check %s\n", TESSMOOR_VERSION);
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
    std::optional<platform::HttpOutcome> fetch;
    switch (source.kind) {
        case SourceKind::BuiltIn:
        case SourceKind::Url:
            body = platform::httpGet(source.name, {}, &fetch.emplace());
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
    release::ExtractionTrace trace;
    release::extractReleaseInfo(body, info, &trace);

    if (field != nullptr) {
        const Text& bytes = info.*(field->member);
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    } else {
        printReport(source, body, info, trace, fetch ? &*fetch : nullptr);
    }
    std::fflush(stdout);
    const bool complete = !info.download1Url.empty() && !info.latestVersion.empty() && !info.download2Url.empty();
    return complete ? EXIT_COMPLETE : EXIT_INCOMPLETE;
}
