#pragma once

#include <cstdint>
#include <string>
#include <variant>

// What the command line chose; every time limit is here so tests can shorten it.
struct ServerOptions {
    int port = 8787;
    std::string dataDir; // empty with --ephemeral
    bool ephemeral = false;
    bool devControls = false;
    int processingSeconds = 30;
    int codeValiditySeconds = 600;
    int codeTries = 5;
    int codeRequests = 5;
    int codeRequestWindowSeconds = 600;
    bool logSecrets = false;
    int clientTokenSeconds = 600;
    std::uint64_t blobLimitBytes = std::uint64_t(2) << 30;

    // Reads argv; an Exit carries the help or error text to print and the status to exit with.
    struct Exit {
        int status;
        std::string text;
    };
    static std::variant<ServerOptions, Exit> parse(int argc, char** argv);
};
