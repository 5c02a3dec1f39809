#pragma once
// The few socket operations the sender needs, non-blocking, over BSD sockets or Winsock.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qyrsend::net {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

enum class Status { Done, Pending, Refused, Failed };

struct Step {
  Status status = Status::Failed;
  std::string error;  // the system's reason when Failed
};

// Starts the socket library for the life of the object (Winsock needs it).
class Library {
 public:
  Library();
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// Resolves `host` (IPv4), makes a non-blocking socket and starts connecting it.
// Done: connected (always so for UDP); Pending: a TCP connect is under way.
Step Open(const std::string& host, std::uint16_t port, bool udp, Socket& out);
// The result of a pending connect, once the socket reported ready.
Step ConnectResult(Socket s);
// Sends from `bytes` onwards; adds what went out to `sent`. Pending: try again when writable.
Step Send(Socket s, std::string_view bytes, std::size_t& sent);
// Appends what has arrived to `out`. Done with nothing appended: the peer closed.
Step Receive(Socket s, std::string& out);
void Close(Socket s);
// One datagram to an IPv4 address in host byte order (broadcast allowed); blocking, nothing is
// waited for back.
Step SendDatagram(std::uint32_t address, std::uint16_t port, std::string_view bytes);

struct Watch {
  Socket socket = kNoSocket;
  bool write = false;  // else read
};
struct Ready {
  bool ready = false;  // readable, writable or failed, as watched
};
// Waits until one watched socket is ready or the time is up.
std::vector<Ready> Wait(const std::vector<Watch>& watches, int timeout_ms);

}  // namespace qyrsend::net
