// The scripted release server (tests/support/release_server.py) that the HTTP
// fault matrix talks to. Starting it is the one platform-specific part of the
// matrix: fault_server_posix.cpp starts it as a child process; a build whose
// test runs where it cannot start one (the Windows backend under Wine) can
// supply a version that takes the addresses of a server started outside.
#pragma once

#include <string>

namespace faults {

struct FaultServer {
    std::string base;     // "http://127.0.0.1:PORT": /fault/<mode> and the page live under it
    std::string refused;  // "http://127.0.0.1:PORT/": a port where a connection is refused
    std::string stalled;  // "http://127.0.0.1:PORT/": a listener whose accept queue is full (connect never completes)
    std::string log;      // file with one JSON line per request, or empty when there is none
};

// Starts the server on an ephemeral loopback port, serving pageFile byte for
// byte (--keep-addresses). False, with a reason on stderr, when it cannot.
bool startFaultServer(const std::string& pageFile, FaultServer& server);

// Stops the server started last, if any.
void stopFaultServer();

}  // namespace faults
