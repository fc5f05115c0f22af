// The release server of a build whose tests cannot start it: the Windows build
// runs under Wine, and tests/integration/run_with_server.py, run as its
// emulator, starts the server on the Linux side and names it in the
// environment (TESSMOOR_SERVER_URL, TESSMOOR_CLOSED_PORT, TESSMOOR_STALLED_PORT,
// TESSMOOR_SERVER_LOG, TESSMOOR_SERVER_PAGE). The server and both ports belong
// to that script, which ends them after the program.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/faults/fault_server.h"

namespace faults {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The script names Linux paths; under Wine, drive Z: is the Linux root.
std::string hostPath(const std::string& path) { return !path.empty() && path.front() == '/' ? "Z:" + path : path; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

bool startFaultServer(const std::string& pageFile, FaultServer& server) {
    const std::string base = environment("TESSMOOR_SERVER_URL");
    const std::string closedPort = environment("TESSMOOR_CLOSED_PORT");
    const std::string stalledPort = environment("TESSMOOR_STALLED_PORT");
    if (base.empty() || closedPort.empty() || stalledPort.empty()) {
        std::fprintf(stderr, "no server in the environment: run under run_with_server.py\n");
        return false;
    }
    // Every row compares bodies with pageFile: a server serving another page
    // would fail them all for a reason none of them names.
    const std::string served = readFile(hostPath(environment("TESSMOOR_SERVER_PAGE")));
    if (served.empty() || served != readFile(pageFile)) {
        std::fprintf(stderr, "the server does not serve %s (run_with_server.py --page it --keep-addresses)\n",
                     pageFile.c_str());
        return false;
    }
    server.base = base;
    server.refused = "http://127.0.0.1:" + closedPort + "/";
    server.stalled = "http://127.0.0.1:" + stalledPort + "/";
    server.log = hostPath(environment("TESSMOOR_SERVER_LOG"));
    return true;
}

void stopFaultServer() {}

}  // namespace faults
