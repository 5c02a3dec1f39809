#pragma once
// The few socket operations the sender needs, non-blocking, over BSD sockets or Winsock.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qyrsend::net {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// Refused: nothing listens there (for UDP: the port is closed). Reset: a TCP peer that took the
// connection dropped it.
enum class Status { Done, Pending, Refused, Reset, Failed };

struct Step {
  Status status = Status::Failed;
  std::string error;  // the system's reason when Failed or Reset
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

// The IPv4 address of `host` (host byte order). With `numeric_only` only an address written as
// one is taken, and no name server is asked; otherwise this blocks as long as the system's
// resolver does.
Step Resolve(const std::string& host, bool numeric_only, std::uint32_t& address);
// The system's words for a failed name look-up (each platform's own).
std::string ResolveErrorText(int code);

// How many sockets the sender may hold at once. Raises the soft limit of open files as far as
// the hard limit allows, and keeps some back for the resolver and the standard streams.
std::size_t SocketBudget();

// Makes a non-blocking socket and starts connecting it.
// Done: connected (always so for UDP); Pending: a TCP connect is under way.
Step Open(std::uint32_t address, std::uint16_t port, bool udp, Socket& out);
// The result of a pending connect, once the socket reported ready.
Step ConnectResult(Socket s);
// Sends from `bytes` onwards; adds what went out to `sent`. Pending: try again when writable.
Step Send(Socket s, std::string_view bytes, std::size_t& sent);
// Appends what has arrived to `out`. Done with nothing appended: the peer closed.
Step Receive(Socket s, std::string& out);
// Whether the peer has reset the connection: after its close has been read, a reset shows only
// here.
bool WasReset(Socket s);
void Close(Socket s);
// Set on a listening socket before its bind: the port is its alone, so that a second listener
// fails instead of sharing its connections, and a restart need not wait for old ones to end.
void OwnPort(Socket s);
// One datagram to an IPv4 address in host byte order (broadcast allowed); blocking, nothing is
// waited for back.
Step SendDatagram(std::uint32_t address, std::uint16_t port, std::string_view bytes);

// A socket that turns readable when another thread calls Wake, so that Wait returns for
// something other than a socket it watches.
class Waker {
 public:
  Waker();
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;
  bool ok() const { return read_ != kNoSocket; }
  Socket socket() const { return read_; }
  void Wake();   // from any thread
  void Drain();  // takes back what Wake left, so that the socket is quiet again

 private:
  Socket read_ = kNoSocket;
  Socket write_ = kNoSocket;
};

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
