#pragma once
// Loopback servers on raw sockets for the web tests and benchmarks: they see
// the exact request bytes and can misbehave in ways a real server library
// would not (never answer, drip, reset, send endless or oversized data).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace lanshu::testing {

inline bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Polls the condition every 5 ms for up to ms milliseconds.
inline bool WaitUntil(const std::function<bool()>& condition, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Makes the coming close() reset the connection instead of ending it.
inline void ArmReset(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

// Waits up to ms for the peer to close (or reset) the connection.
inline bool PeerClosed(int fd, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  char buf[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
}

// "HTTP/1.1 <status>" with the given header lines (each ending in CRLF), a
// Content-Length for the body and "Connection: close".
inline std::string HttpResponse(const std::string& status, const std::string& headers,
                                const std::string& body) {
  return "HTTP/1.1 " + status + "\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         body;
}

// The request target of a raw request ("/path?query").
inline std::string RequestTarget(const std::string& request) {
  const std::size_t a = request.find(' ');
  const std::size_t b = request.find(' ', a + 1);
  if (a == std::string::npos || b == std::string::npos) return std::string();
  return request.substr(a + 1, b - a - 1);
}

// Value of the first header line `name` of a raw request (exact case).
inline std::string RequestHeader(const std::string& request, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const std::size_t at = request.find(key);
  if (at == std::string::npos) return std::string();
  const std::size_t from = at + key.size();
  return request.substr(from, request.find("\r\n", from) - from);
}

class RawServer {
 public:
  // Runs on a thread of its own for every accepted connection; the
  // connection is closed when it returns.
  using Handler = std::function<void(int fd, RawServer& server)>;

  explicit RawServer(Handler handler) : handler_(std::move(handler)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_, 64) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0)
      std::abort();
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~RawServer() { Stop(); }
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  void Stop() {
    if (stopping_.exchange(true)) return;
    (void)!::write(wake_[1], "x", 1);
    acceptor_.join();
    std::vector<Connection> connections;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connections.swap(connections_);
    }
    for (Connection& c : connections) c.thread.join();
    ::close(listen_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }

  int Port() const { return port_; }
  std::string Url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int Connections() const { return accepted_.load(); }
  std::vector<std::string> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  bool Stopping() const { return stopping_.load(); }

  // Sleeps ms milliseconds; false (early) when the server is stopping.
  bool Pause(int ms) {
    pollfd p{wake_[0], POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
  }

  // Reads one request (header block and a Content-Length body) and records
  // it; waits at most 5 s. Empty when the peer sent nothing.
  std::string ReadRequest(int fd) {
    std::string req;
    std::size_t need = std::string::npos;
    char buf[8192];
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (need == std::string::npos || req.size() < need) {
      if (std::chrono::steady_clock::now() > end || stopping_) break;
      pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(p, 2, 100) <= 0 || (p[1].revents & POLLIN)) continue;
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      req.append(buf, static_cast<std::size_t>(n));
      const std::size_t blank = req.find("\r\n\r\n");
      if (need == std::string::npos && blank != std::string::npos) {
        const std::string length = RequestHeader(req.substr(0, blank + 2), "Content-Length");
        need = blank + 4 + (length.empty() ? 0 : std::strtoul(length.c_str(), nullptr, 10));
      }
    }
    if (!req.empty()) {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(req);
    }
    return req;
  }

 private:
  void AcceptLoop() {
    while (!stopping_) {
      pollfd p[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(p, 2, -1) <= 0) continue;
      if (p[1].revents & POLLIN) break;
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++accepted_;
      std::lock_guard<std::mutex> lock(mutex_);
      ReapLocked();
      auto done = std::make_shared<std::atomic<bool>>(false);
      connections_.push_back({std::thread([this, fd, done] {
                                handler_(fd, *this);
                                ::close(fd);
                                *done = true;
                              }),
                              done});
    }
  }

  struct Connection {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void ReapLocked() {
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (*it->done) {
        it->thread.join();
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }

  Handler handler_;
  int listen_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  mutable std::mutex mutex_;
  std::vector<Connection> connections_;
  std::vector<std::string> requests_;
  std::thread acceptor_;
};

// A handler that reads each request and sends respond(request) back.
inline RawServer::Handler Answer(std::function<std::string(const std::string&)> respond) {
  return [respond = std::move(respond)](int fd, RawServer& server) {
    const std::string request = server.ReadRequest(fd);
    if (!request.empty()) WriteAll(fd, respond(request));
  };
}

}  // namespace lanshu::testing
