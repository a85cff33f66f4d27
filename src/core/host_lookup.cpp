#include "core/host_lookup.h"

#include <ares.h>
#include <sys/select.h>

#include <cstring>

namespace tovlane {

using asio::ip::tcp;

namespace {

#ifndef TOVLANE_OWN_RESOLVER

// Not in the static sender, which could not load the name service modules.
std::vector<tcp::endpoint> lookUpHostWithSystem(asio::io_context& io, const std::string& host,
                                                unsigned short port, asio::error_code& error) {
    tcp::resolver resolver(io);
    auto found =
        resolver.resolve(host, std::to_string(port), tcp::resolver::numeric_service, error);
    return error ? std::vector<tcp::endpoint>()
                 : std::vector<tcp::endpoint>(found.begin(), found.end());
}

#endif

struct Lookup {
    unsigned short port;
    std::vector<tcp::endpoint> found;
    int status = ARES_ENOTFOUND;
    bool done = false;
};

void collect(void* argument, int status, int, ares_addrinfo* result) {
    auto& lookup = *static_cast<Lookup*>(argument);
    lookup.status = status;
    lookup.done = true;
    for (auto* node = result ? result->nodes : nullptr; node != nullptr; node = node->ai_next) {
        tcp::endpoint endpoint;
        if (node->ai_addrlen > endpoint.capacity())
            continue;
        std::memcpy(endpoint.data(), node->ai_addr, node->ai_addrlen);
        endpoint.resize(node->ai_addrlen);
        endpoint.port(lookup.port);
        lookup.found.push_back(endpoint);
    }
    if (result != nullptr)
        ares_freeaddrinfo(result);
}

asio::error_code lookupError(int status) {
    if (status == ARES_ENOMEM)
        return asio::error::no_memory;
    if (status == ARES_ENOTFOUND || status == ARES_ENODATA || status == ARES_ENONAME)
        return asio::error::host_not_found;
    return asio::error::host_not_found_try_again;
}

}  // namespace

std::vector<tcp::endpoint> lookUpHostWithHostsAndDns(const std::string& host, unsigned short port,
                                                     asio::error_code& error) {
    error = {};
    Lookup lookup{port, {}};
    ares_channel channel = nullptr;
    if (int status = ares_library_init(ARES_LIB_INIT_ALL); status != ARES_SUCCESS) {
        error = lookupError(status);
        return {};
    }
    if (int status = ares_init(&channel); status != ARES_SUCCESS) {
        ares_library_cleanup();
        error = lookupError(status);
        return {};
    }
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ares_getaddrinfo(channel, host.c_str(), nullptr, &hints, collect, &lookup);
    while (!lookup.done) {
        fd_set reading, writing;
        FD_ZERO(&reading);
        FD_ZERO(&writing);
        int count = ares_fds(channel, &reading, &writing);
        if (count == 0)
            break;
        timeval wait{};
        ::select(count, &reading, &writing, nullptr, ares_timeout(channel, nullptr, &wait));
        ares_process(channel, &reading, &writing);
    }
    ares_destroy(channel);
    ares_library_cleanup();
    if (lookup.found.empty())
        error = lookupError(lookup.status == ARES_SUCCESS ? ARES_ENODATA : lookup.status);
    return lookup.found;
}

std::vector<tcp::endpoint> lookUpHost(asio::io_context& io, const std::string& host,
                                      unsigned short port, asio::error_code& error) {
#ifdef TOVLANE_OWN_RESOLVER
    (void)io;
    return lookUpHostWithHostsAndDns(host, port, error);
#else
    return lookUpHostWithSystem(io, host, port, error);
#endif
}

}  // namespace tovlane
