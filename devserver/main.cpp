#include "Console.h"
#include "Database.h"
#include "DemoData.h"
#include "DevServer.h"
#include "ServerOptions.h"

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <thread>
#include <variant>

int main(int argc, char** argv)
{
    const auto parsed = ServerOptions::parse(argc, argv);
    if (const auto* exit = std::get_if<ServerOptions::Exit>(&parsed)) {
        std::fprintf(exit->status == 0 ? stdout : stderr, "%s\n", exit->text.c_str());
        return exit->status;
    }
    const auto& options = std::get<ServerOptions>(parsed);

    // Every file and folder the service makes is its user's alone (0600 and 0700).
    umask(077);
    // A client that hangs up mid-reply must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM are taken by the main thread alone, below; threads started later inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        DevServer server(options);
        const int port = server.bind();
        if (port < 0) {
            std::fprintf(stderr, "[devserver] cannot listen on 127.0.0.1:%d\n", options.port);
            return 1;
        }
        std::thread serving([&] { server.run(); });
        while (!server.isRunning())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));

        Console::line("listening on " + server.origin());
        Console::line(options.ephemeral ? std::string("data in memory (ephemeral)") : "data in " + options.dataDir);
        Console::line("demo account: " + DemoData::email + " (its one-time codes appear here)");
        if (options.devControls)
            Console::line("test controls on " + server.origin() + "/__dev/");

        int received = 0;
        sigwait(&stopSignals, &received);
        Console::line("stopping");
        server.stop();
        serving.join();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "[devserver] %s\n", e.what());
        return 1;
    }
    return 0;
}
