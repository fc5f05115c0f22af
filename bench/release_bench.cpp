// Benchmarks of the release reader: findText, textBetween, and the whole
// extraction (conversion included) on a realistic page and on an 8 MiB page
// whose link assignments stand at the very end.
//
//   release_bench [benchmark options]
//   release_bench --write-page=PATH   writes the 8 MiB page (UTF-8) and exits;
//                                     scripts/bench times release-check on it
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/encoding.h"
#include "release/release_page_reader.h"
#include "release/text_ops.h"

namespace {

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;

// Pieces of a Chinese download page: mostly markup and script, some Chinese
// prose, and plenty of 'v' and "var" to keep the search busy.
constexpr const char* BLOCKS[] = {
    "<div class=\"nav\"><a href=\"/\">首页</a> | <a href=\"/download\">下载中心</a> | "
    "<a href=\"/forum\">论坛</a> | <a href=\"/help\">帮助</a></div>\r\n",
    "<p>Orvelline 2016 中文版是一款面向设计人员的软件，本页面提供最新版本的下载地址。"
    "如果下载1无效，请使用下载2。</p>\r\n",
    "<script type=\"text/javascript\">var _hmt = _hmt || []; (function() { var hm = "
    "document.createElement(\"script\"); hm.src = \"//stats.example/hm.js?v=20161104\"; "
    "var s = document.getElementsByTagName(\"script\")[0]; s.parentNode.insertBefore(hm, s); })();</script>\r\n",
    "<li class=\"item\"><span class=\"date\">2016-11-04</span><a href=\"/news/1104.html\" "
    "title=\"version notes\">Version 7.14 released: various fixes, improved rendering, revised drivers</a></li>\r\n",
    "<style>.nav{overflow:hidden;visibility:visible}.item{vertical-align:middle;}</style>\r\n",
    "<p>安装前请关闭杀毒软件。解压后运行 setup.exe，按照提示完成安装。本软件仅供学习交流使用。</p>\r\n",
    "<!-- advert: var slot = \"v-2016\"; javascript:void(0) ; viewport; navigation; overview; -->\r\n",
    "<tr><td>版本</td><td>7.14</td><td>大小</td><td>412 MB</td><td>更新</td><td>2016-11-04</td></tr>\r\n",
};

// A UTF-8 page of about size bytes, CR LF line ends. The two link assignments
// stand at markersAt (a fraction of the page) or at the very end.
std::string makePage(std::size_t size, double markersAt) {
    const std::string head =
        "<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n<meta charset=\"utf-8\">\r\n"
        "<title>Orvelline 2016 中文版下载</title>\r\n</head>\r\n<body>\r\n";
    const std::string links = "<script type=\"text/javascript\">\r\nvar link1 = \"" +
                              std::string(release::DOWNLOAD_URL_PREFIX) + "7.14" +
                              std::string(release::DOWNLOAD_URL_SUFFIX) +
                              "\";\r\nvar link2 = \"http://mirror.tessmoor.example/KALMERDINE_7.14.zip\";\r\n"
                              "</script>\r\n";
    const std::string tail = "</body>\r\n</html>\r\n";
    const std::size_t linksAt = static_cast<std::size_t>(static_cast<double>(size) * markersAt);

    std::string page = head;
    std::uint32_t state = 2016;  // fixed seed: every run benchmarks the same page
    bool linksDone = false;
    while (page.size() + tail.size() + (linksDone ? 0 : links.size()) < size) {
        if (!linksDone && page.size() >= linksAt) {
            page += links;
            linksDone = true;
            continue;
        }
        state = state * 1664525u + 1013904223u;
        page += BLOCKS[(state >> 24) % std::size(BLOCKS)];
    }
    if (!linksDone) page += links;
    return page + tail;
}

std::string toGb18030(const std::string& utf8) { return platform::utf8ToGb18030(utf8); }

// 1 MiB of converted page text with the first link marker only at its end,
// so the search covers all of it.
std::string findHaystack() {
    std::string text = toGb18030(makePage(2 * MiB, 2.0));
    text.resize(MiB - release::LINK1_MARKER.size());
    // Do not leave a lead byte dangling before the marker.
    std::size_t at = 0;
    while (at < text.size()) at += static_cast<unsigned char>(text[at]) >= 0x80 ? 2 : 1;
    if (at > text.size()) text.back() = ' ';
    return text + std::string(release::LINK1_MARKER);
}

void BM_FindText_1MiB_MostlyAscii(benchmark::State& state) {
    const std::string text = findHaystack();
    std::size_t lead = 0;
    for (const char c : text) lead += static_cast<unsigned char>(c) >= 0x80;
    for (auto _ : state) {
        const release::Position p = release::findText(text, release::LINK1_MARKER, 0, false);
        benchmark::DoNotOptimize(p);
        if (p != static_cast<release::Position>(text.size() - release::LINK1_MARKER.size() + 1))
            state.SkipWithError("marker not found at the end");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["non_ascii_bytes_%"] = 100.0 * static_cast<double>(lead) / static_cast<double>(text.size());
}
BENCHMARK(BM_FindText_1MiB_MostlyAscii);

void BM_FindText_1MiB_IgnoreCase(benchmark::State& state) {
    const std::string text = findHaystack();
    for (auto _ : state) benchmark::DoNotOptimize(release::findText(text, release::LINK1_MARKER, 0, true));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FindText_1MiB_IgnoreCase);

// The way the updater calls it: on link1Raw, marker to sentinel.
void BM_TextBetween_LinkRaw(benchmark::State& state) {
    release::ReleaseInfo info;
    release::extractReleaseInfo(makePage(256 * KiB, 0.6), info);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            release::textBetween(info.link1Raw, release::LINK1_MARKER, release::LINK_SENTINEL, 0, false));
}
BENCHMARK(BM_TextBetween_LinkRaw);

// On a whole page text: a left delimiter near the end, written with #引号.
void BM_TextBetween_256KiBPage(benchmark::State& state) {
    const std::string text = toGb18030(makePage(256 * KiB, 0.9));
    const std::string left = "var link2 = " + std::string(release::QUOTE_PLACEHOLDER);
    const std::string right = std::string(release::QUOTE_PLACEHOLDER) + ";";
    for (auto _ : state) benchmark::DoNotOptimize(release::textBetween(text, left, right, 0, false));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_TextBetween_256KiBPage);

void extractBenchmark(benchmark::State& state, const std::string& body) {
    for (auto _ : state) {
        release::ReleaseInfo info;
        release::extractReleaseInfo(body, info);
        if (info.latestVersion != "7.14") state.SkipWithError("no version");
        benchmark::DoNotOptimize(info);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

void BM_ExtractReleaseInfo_256KiBPage(benchmark::State& state) { extractBenchmark(state, makePage(256 * KiB, 0.6)); }
BENCHMARK(BM_ExtractReleaseInfo_256KiBPage)->Unit(benchmark::kMicrosecond);

void BM_ExtractReleaseInfo_8MiBPageMarkersAtEnd(benchmark::State& state) {
    extractBenchmark(state, makePage(8 * MiB, 1.0));
}
BENCHMARK(BM_ExtractReleaseInfo_8MiBPageMarkersAtEnd)->Unit(benchmark::kMillisecond);

// The floor of the extraction: the conversion alone.
void BM_ConvertOnly_8MiBPage(benchmark::State& state) {
    const std::string body = makePage(8 * MiB, 1.0);
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::convertEncoding(body, release::PAGE_ENCODING, release::TEXT_ENCODING));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_ConvertOnly_8MiBPage)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    constexpr std::string_view WRITE_PAGE = "--write-page=";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with(WRITE_PAGE)) {
            const std::string page = makePage(8 * MiB, 1.0);
            std::ofstream out(std::string(arg.substr(WRITE_PAGE.size())), std::ios::binary);
            out.write(page.data(), static_cast<std::streamsize>(page.size()));
            return out ? 0 : 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
