#pragma once

#include <asio/ip/tcp.hpp>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tovlane {

using LookupDeadline = std::optional<std::chrono::steady_clock::time_point>;

// The addresses a host name stands for, each with the port, in the order to
// try them; asio::error::timed_out when the deadline passes first. Through
// the C library's resolver; in the static sender (built with
// TOVLANE_OWN_RESOLVER) through /etc/hosts and DNS alone, since a static
// program cannot load the C library's name service modules.
std::vector<asio::ip::tcp::endpoint> lookUpHost(const std::string& host, unsigned short port,
                                                asio::error_code& error,
                                                LookupDeadline deadline = {});

// The static sender's way: /etc/hosts and DNS (c-ares), nothing else.
std::vector<asio::ip::tcp::endpoint> lookUpHostWithHostsAndDns(const std::string& host,
                                                               unsigned short port,
                                                               asio::error_code& error,
                                                               LookupDeadline deadline = {});

}  // namespace tovlane
