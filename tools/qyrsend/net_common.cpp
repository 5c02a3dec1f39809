// What both platforms' sockets do alike: the name look-up and the IPv4 address.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#endif

#include <cstring>

#include "net.h"
#include "net_address.h"

namespace qyrsend::net {

sockaddr_in SocketAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in in = {};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.s_addr = htonl(address);
  return in;
}

Step Resolve(const std::string& host, bool numeric_only, std::uint32_t& address) {
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = numeric_only ? AI_NUMERICHOST : 0;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) return {Status::Failed, "cannot resolve: " + ResolveErrorText(rc)};
  sockaddr_in in;
  std::memcpy(&in, found->ai_addr, sizeof(in));
  freeaddrinfo(found);
  address = ntohl(in.sin_addr.s_addr);
  return {Status::Done, {}};
}

}  // namespace qyrsend::net
