#pragma once

#include <asio/ip/tcp.hpp>
#include <string>
#include <vector>

namespace tovlane {

// The addresses a host name stands for, each with the port, in the order to
// try them. Through the C library's resolver; in the static sender (built
// with TOVLANE_OWN_RESOLVER) through /etc/hosts and DNS alone, since a static
// program cannot load the C library's name service modules.
std::vector<asio::ip::tcp::endpoint> lookUpHost(asio::io_context& io, const std::string& host,
                                                unsigned short port, asio::error_code& error);

// The static sender's way: /etc/hosts and DNS (c-ares), nothing else.
std::vector<asio::ip::tcp::endpoint> lookUpHostWithHostsAndDns(const std::string& host,
                                                               unsigned short port,
                                                               asio::error_code& error);

}  // namespace tovlane
