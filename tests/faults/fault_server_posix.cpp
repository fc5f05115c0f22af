// Starts release_server.py as a child process on an ephemeral port and holds
// a second port bound but not listening, where every connection is refused,
// and a third whose accept queue is full, where a connect never completes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/faults/fault_server.h"

namespace faults {
namespace {

pid_t serverPid = -1;
int refusingSocket = -1;
std::vector<int> stalledSockets;  // the listener first, then the connections that fill its queue
std::filesystem::path workDir;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// A port bound on loopback without listen(): the kernel refuses connections to
// it, and keeping it bound stops anyone else from taking it meanwhile.
int bindRefusingPort(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// A listener with a backlog of 0, filled by connections nobody accepts: the
// kernel then drops every further SYN, so a connect to it never completes.
bool stallPort(int& port) {
    const int listener = bindRefusingPort(port);
    if (listener < 0) return false;
    stalledSockets.push_back(listener);
    if (listen(listener, 0) != 0) return false;
    const sockaddr_in address = loopback(port);
    for (int i = 0; i < 16; ++i) {  // until a connect no longer completes: the queue is full
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (filler < 0) return false;
        stalledSockets.push_back(filler);
        if (connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) continue;
        pollfd waiting{filler, POLLOUT, 0};
        if (poll(&waiting, 1, 200) == 0) return true;
    }
    return false;
}

}  // namespace

bool startFaultServer(const std::string& pageFile, FaultServer& server) {
    char pattern[] = "/tmp/tessmoor-faults-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return false;
    }
    workDir = pattern;
    const std::string portFile = (workDir / "port").string();
    const std::string logFile = (workDir / "requests.jsonl").string();

    serverPid = fork();
    if (serverPid < 0) {
        std::perror("fork");
        return false;
    }
    if (serverPid == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
        execl(TESSMOOR_PYTHON3, TESSMOOR_PYTHON3, TESSMOOR_RELEASE_SERVER, "--port", "0", "--port-file",
              portFile.c_str(), "--page", pageFile.c_str(), "--keep-addresses", "--log", logFile.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }

    int port = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (port == 0) {
        std::ifstream(portFile) >> port;
        if (port != 0) break;
        int status = 0;
        if (waitpid(serverPid, &status, WNOHANG) == serverPid) {
            std::fprintf(stderr, "release_server.py ended before it listened\n");
            serverPid = -1;
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "release_server.py did not listen within 20 s\n");
            stopFaultServer();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    int refusedPort = 0;
    refusingSocket = bindRefusingPort(refusedPort);
    if (refusingSocket < 0) {
        std::perror("binding a refusing port");
        stopFaultServer();
        return false;
    }
    int stalledPort = 0;
    if (!stallPort(stalledPort)) {
        std::fprintf(stderr, "could not fill a listener's accept queue\n");
        stopFaultServer();
        return false;
    }
    server.base = "http://127.0.0.1:" + std::to_string(port);
    server.refused = "http://127.0.0.1:" + std::to_string(refusedPort) + "/";
    server.stalled = "http://127.0.0.1:" + std::to_string(stalledPort) + "/";
    server.log = logFile;
    return true;
}

void stopFaultServer() {
    if (serverPid > 0) {
        kill(serverPid, SIGTERM);
        waitpid(serverPid, nullptr, 0);
        serverPid = -1;
    }
    if (refusingSocket >= 0) {
        close(refusingSocket);
        refusingSocket = -1;
    }
    for (const int fd : stalledSockets) close(fd);
    stalledSockets.clear();
    if (!workDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(workDir, ignored);
        workDir.clear();
    }
}

}  // namespace faults
