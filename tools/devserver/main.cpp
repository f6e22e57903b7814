// SPDX-License-Identifier: MIT
// varno-devserver: a local Varno server for demos and end-to-end tests.

#include "Backend.h"
#include "DemoSeed.h"
#include "HttpServer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

const char* const usage =
    "usage: varno-devserver [--host 127.0.0.1] [--port 3000] [--db FILE|:memory:]\n"
    "                       [--seed demo|none] [--request-deadline SECONDS] [--verbose]\n"
    "\n"
    "Serves the Varno API under /api/, a development sign-in page at /dev/signin and an\n"
    "analytics sink at /batch. --port 0 picks a free port. The first line on standard\n"
    "output is the address it listens on. --seed demo adds a demo circle of friends\n"
    "(sign in as \"demo\"). A request whose head and body take longer than\n"
    "--request-deadline (default 10, at most 600) is dropped. --verbose logs each request\n"
    "to standard error.\n";

struct Options {
    std::string host = "127.0.0.1";
    int port = 3000;
    QString db = QStringLiteral(":memory:");
    bool seedDemo = false;
    bool verbose = false;
    std::chrono::seconds requestDeadline = varno::devserver::HttpServer::defaultRequestDeadline;
};

// A whole number from 0 to `max` (at most 99999), written in digits only.
std::optional<int> parseNumber(const std::string& text, int max) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int number = std::stoi(text);
    return number <= max ? std::optional<int>(number) : std::nullopt;
}

// Returns the options, or nothing after printing what was wrong.
std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        const auto next = [&]() -> std::optional<std::string> {
            if (value)
                return value;
            if (i + 1 < argc)
                return std::string(argv[++i]);
            return std::nullopt;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (arg == "--verbose" && !value) {
            options.verbose = true;
        } else if (arg == "--host") {
            const auto host = next();
            if (!host || host->empty()) {
                std::fprintf(stderr, "varno-devserver: --host needs an address\n");
                return std::nullopt;
            }
            options.host = *host;
        } else if (arg == "--port") {
            const auto text = next();
            const auto port = text ? parseNumber(*text, 65535) : std::nullopt;
            if (!port) {
                std::fprintf(stderr, "varno-devserver: --port needs a number from 0 to 65535\n");
                return std::nullopt;
            }
            options.port = *port;
        } else if (arg == "--db") {
            const auto path = next();
            if (!path || path->empty()) {
                std::fprintf(stderr, "varno-devserver: --db needs a file name or :memory:\n");
                return std::nullopt;
            }
            options.db = QString::fromLocal8Bit(path->c_str());
        } else if (arg == "--request-deadline") {
            const auto text = next();
            const auto seconds = text ? parseNumber(*text, 600) : std::nullopt;
            if (!seconds || *seconds < 1) {
                std::fprintf(stderr,
                             "varno-devserver: --request-deadline needs seconds from 1 to 600\n");
                return std::nullopt;
            }
            options.requestDeadline = std::chrono::seconds(*seconds);
        } else if (arg == "--seed") {
            const auto seed = next();
            if (!seed || (*seed != "demo" && *seed != "none")) {
                std::fprintf(stderr, "varno-devserver: --seed must be demo or none\n");
                return std::nullopt;
            }
            options.seedDemo = *seed == "demo";
        } else {
            std::fprintf(stderr, "varno-devserver: unknown argument %s\n", argv[i]);
            return std::nullopt;
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    using namespace varno::devserver;

    const auto options = parseArguments(argc, argv);
    if (!options) {
        std::fputs(usage, stderr);
        return 2;
    }

    // A client that hangs up mid-answer must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM are taken by one thread that stops the server; every other
    // thread (the server's workers included) inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        Backend backend(options->db);
        if (options->seedDemo)
            seedDemo(backend);

        HttpServer server(backend, options->verbose, options->requestDeadline);
        if (server.bind(options->host, options->port) < 0) {
            std::fprintf(stderr, "varno-devserver: cannot listen on %s:%d\n", options->host.c_str(),
                         options->port);
            return 1;
        }

        std::thread watcher([&server, stopSignals] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            server.stop();
        });

        std::printf("%s\n", server.origin().toUtf8().constData());
        std::fflush(stdout);
        if (options->seedDemo)
            std::fprintf(stderr, "varno-devserver: demo circle ready; sign in as \"%s\"\n",
                         demoAccountId);
        const bool served = server.run();
        // Wakes the watcher if the server stopped for another reason; harmless otherwise.
        pthread_kill(watcher.native_handle(), SIGTERM);
        watcher.join();
        return served ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "varno-devserver: %s\n", error.what());
        return 1;
    }
}
