#include "core/host_lookup.h"

#include <ares.h>
#include <netdb.h>
#include <sys/select.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace tovlane {

using asio::ip::tcp;

namespace {

// Nanoseconds left until the deadline, never below none at all.
timespec timeLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = std::max(deadline - std::chrono::steady_clock::now(),
                         std::chrono::steady_clock::duration::zero());
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    return {static_cast<time_t>(seconds.count()),
            static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
}

#ifndef TOVLANE_OWN_RESOLVER

// A lookup the C library makes on a thread of its own, so that a time limit
// can stop waiting for it. What that thread writes to stays allocated until
// it is done, even when the wait was given up.
struct SystemLookup {
    std::string host;
    addrinfo hints{};
    gaicb request{};
};

asio::error_code systemLookupError(int status) {
    switch (status) {
        case EAI_NONAME:
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return asio::error::host_not_found;
        case EAI_AGAIN:
            return asio::error::host_not_found_try_again;
        case EAI_MEMORY:
            return asio::error::no_memory;
        case EAI_SYSTEM:
            return {errno, asio::system_category()};
        default:
            return asio::error::no_recovery;
    }
}

// Not in the static sender, which could not load the name service modules.
std::vector<tcp::endpoint> lookUpHostWithSystem(const std::string& host, unsigned short port,
                                                asio::error_code& error, LookupDeadline deadline) {
    auto lookup = std::make_unique<SystemLookup>();
    lookup->host = host;
    lookup->hints.ai_family = AF_UNSPEC;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->hints.ai_flags = AI_ADDRCONFIG;
    lookup->request.ar_name = lookup->host.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[] = {&lookup->request};
    if (int started = ::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr); started != 0) {
        error = systemLookupError(started);
        return {};
    }
    for (;;) {
        timespec left{};
        if (deadline)
            left = timeLeft(*deadline);
        int waited = ::gai_suspend(list, 1, deadline ? &left : nullptr);
        if (waited == EAI_INTR)
            continue;
        if (waited != EAI_AGAIN)
            break;
        if (::gai_cancel(&lookup->request) != EAI_CANCELED)
            static_cast<void>(lookup.release());  // still at work: its memory stays with it
        error = asio::error::timed_out;
        return {};
    }
    if (int status = ::gai_error(&lookup->request); status != 0) {
        error = systemLookupError(status);
        return {};
    }
    std::vector<tcp::endpoint> found;
    for (const addrinfo* node = lookup->request.ar_result; node != nullptr; node = node->ai_next) {
        tcp::endpoint endpoint;
        if (node->ai_addrlen > endpoint.capacity())
            continue;
        std::memcpy(endpoint.data(), node->ai_addr, node->ai_addrlen);
        endpoint.resize(node->ai_addrlen);
        endpoint.port(port);
        found.push_back(endpoint);
    }
    ::freeaddrinfo(lookup->request.ar_result);
    error = {};
    return found;
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
                                                     asio::error_code& error,
                                                     LookupDeadline deadline) {
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
    bool timedOut = false;
    while (!lookup.done) {
        fd_set reading, writing;
        FD_ZERO(&reading);
        FD_ZERO(&writing);
        int count = ares_fds(channel, &reading, &writing);
        if (count == 0)
            break;
        timeval limit{}, wait{};
        if (deadline) {
            timespec left = timeLeft(*deadline);
            if (left.tv_sec == 0 && left.tv_nsec == 0) {
                timedOut = true;
                break;
            }
            limit = {left.tv_sec, static_cast<suseconds_t>(left.tv_nsec / 1000)};
        }
        ::select(count, &reading, &writing, nullptr,
                 ares_timeout(channel, deadline ? &limit : nullptr, &wait));
        ares_process(channel, &reading, &writing);
    }
    ares_destroy(channel);
    ares_library_cleanup();
    if (timedOut) {
        error = asio::error::timed_out;
        return {};
    }
    if (lookup.found.empty())
        error = lookupError(lookup.status == ARES_SUCCESS ? ARES_ENODATA : lookup.status);
    return lookup.found;
}

std::vector<tcp::endpoint> lookUpHost(const std::string& host, unsigned short port,
                                      asio::error_code& error, LookupDeadline deadline) {
#ifdef TOVLANE_OWN_RESOLVER
    return lookUpHostWithHostsAndDns(host, port, error, deadline);
#else
    return lookUpHostWithSystem(host, port, error, deadline);
#endif
}

}  // namespace tovlane
