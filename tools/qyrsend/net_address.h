#pragma once
// The IPv4 socket address of both platforms' sockets, for their senders only.
#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#endif

#include <cstdint>

namespace qyrsend::net {

sockaddr_in SocketAddress(std::uint32_t address, std::uint16_t port);  // host byte order in

}  // namespace qyrsend::net
