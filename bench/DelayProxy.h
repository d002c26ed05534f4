#pragma once
// A loopback TCP proxy in front of a database server, for the history's
// benchmarks and tests. Requests go through as they come; each chunk of an
// answer is held back for a while (a far server), kept until released (a
// server that does not answer), or every connection is cut (a server that
// vanished). One thread, POSIX sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lanshu::bench {

class DelayProxy {
 public:
  // target: a Unix socket path (starting with '/'), or "host:port".
  explicit DelayProxy(std::string target, int delayMs = 0) : target_(std::move(target)), delayMs_(delayMs) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 64) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
      std::abort();
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~DelayProxy() {
    Command([this] { stop_ = true; });
    thread_.join();
    ::close(listen_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  int Port() const { return port_; }
  // The proxy as a PostgreSQL address.
  std::string Address(const std::string& user, const std::string& db) const {
    return "postgresql://" + user + "@127.0.0.1:" + std::to_string(port_) + "/" + db;
  }

  // Answer chunks read from now on wait ms before they go on.
  void SetDelay(int ms) {
    Command([this, ms] { delayMs_ = ms; });
  }
  // Answers are kept from now on until Release().
  void Hold() {
    Command([this] { held_ = true; });
  }
  void Release() {
    Command([this] { held_ = false; });
  }
  // Closes every connection with what it holds; connections made until
  // Mend() are closed at once. Done when it returns.
  void Cut() {
    Command([this] { cut_ = true; });
  }
  void Mend() {
    Command([this] { cut_ = false; });
  }
  // Answer chunks read from the server and not yet passed on.
  std::size_t Waiting() const { return waiting_.load(); }
  int Accepted() const { return accepted_.load(); }
  // Chunks read from the server so far: about one per statement's round
  // trip, as answers are small.
  long Answers() const { return answers_.load(); }

 private:
  using Clock = std::chrono::steady_clock;
  struct Chunk {
    Clock::time_point due;
    std::string bytes;
  };
  struct Link {
    int client = -1, server = -1;
    std::deque<Chunk> answers;
    bool serverGone = false;
  };

  // Runs f on the proxy's thread and waits until it has, so that what the
  // caller asked for holds when the call returns.
  template <typename F>
  void Command(F f) {
    std::unique_lock<std::mutex> hold(lock_);
    const std::uint64_t ticket = ++asked_;
    pending_.push_back(std::move(f));
    (void)!::write(wake_[1], "x", 1);
    done_.wait(hold, [&] { return served_ >= ticket; });
  }

  void RunCommands() {
    char buf[64];
    while (::read(wake_[0], buf, sizeof buf) == static_cast<ssize_t>(sizeof buf)) {
    }
    std::vector<std::function<void()>> work;
    {
      std::lock_guard<std::mutex> hold(lock_);
      work.swap(pending_);
    }
    for (auto& f : work) f();
    if (cut_)
      for (Link& l : links_) Close(l);
    {
      std::lock_guard<std::mutex> hold(lock_);
      served_ += work.size();
    }
    done_.notify_all();
  }

  int Connect() const {
    if (!target_.empty() && target_[0] == '/') {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un a{};
      a.sun_family = AF_UNIX;
      std::strncpy(a.sun_path, target_.c_str(), sizeof a.sun_path - 1);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
      ::close(fd);
      return -1;
    }
    const std::size_t colon = target_.rfind(':');
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(target_.c_str() + colon + 1)));
    ::inet_pton(AF_INET, target_.substr(0, colon).c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    ::close(fd);
    return -1;
  }

  static bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  void Close(Link& l) {
    waiting_ -= l.answers.size();
    l.answers.clear();
    if (l.client >= 0) ::close(l.client);
    if (l.server >= 0) ::close(l.server);
    l.client = l.server = -1;
  }

  void Accept() {
    const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    ++accepted_;
    const int server = cut_ ? -1 : Connect();
    if (server < 0) {
      ::close(client);
      return;
    }
    int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    links_.push_back(Link{client, server, {}, false});
  }

  // Passes on the answers that are due; the time until the next one (-1: none).
  int Flush() {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    for (Link& l : links_) {
      while (!held_ && !l.answers.empty() && l.answers.front().due <= now) {
        const bool sent = SendAll(l.client, l.answers.front().bytes.data(), l.answers.front().bytes.size());
        l.answers.pop_front();
        --waiting_;
        if (!sent) {
          Close(l);
          break;
        }
      }
      if (l.client >= 0 && l.serverGone && l.answers.empty()) Close(l);
      if (!held_ && !l.answers.empty()) next = std::min(next, l.answers.front().due);
    }
    links_.remove_if([](const Link& l) { return l.client < 0; });
    if (next == Clock::time_point::max()) return -1;
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()) + 1;
  }

  void Loop() {
    std::vector<pollfd> fds;
    std::vector<Link*> owners;
    char buf[65536];
    while (!stop_) {
      const int timeout = Flush();
      fds.assign({{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}});
      owners.assign(2, nullptr);
      for (Link& l : links_) {
        fds.push_back({l.client, POLLIN, 0});
        owners.push_back(&l);
        if (!l.serverGone) {
          fds.push_back({l.server, POLLIN, 0});
          owners.push_back(&l);
        }
      }
      if (::poll(fds.data(), fds.size(), timeout) <= 0) continue;
      for (std::size_t i = 2; i < fds.size(); ++i) {
        Link& l = *owners[i];
        if (!fds[i].revents || l.client < 0) continue;
        const bool fromClient = fds[i].fd == l.client;
        const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
        if (fromClient) {
          if (n <= 0 || !SendAll(l.server, buf, static_cast<std::size_t>(n))) Close(l);
        } else if (n <= 0) {
          l.serverGone = true;  // the client gets what came before
        } else {
          l.answers.push_back({Clock::now() + std::chrono::milliseconds(delayMs_), std::string(buf, static_cast<std::size_t>(n))});
          ++waiting_;
          ++answers_;
        }
      }
      if (fds[1].revents & POLLIN) RunCommands();
      if (fds[0].revents & POLLIN) Accept();
    }
    for (Link& l : links_) Close(l);
    links_.clear();
  }

  std::string target_;
  int listen_ = -1, port_ = 0, wake_[2] = {-1, -1};
  std::thread thread_;
  // The proxy thread's own.
  int delayMs_;
  bool held_ = false, cut_ = false, stop_ = false;
  std::list<Link> links_;
  // Shared with the callers.
  std::mutex lock_;
  std::condition_variable done_;
  std::vector<std::function<void()>> pending_;
  std::uint64_t asked_ = 0, served_ = 0;
  std::atomic<std::size_t> waiting_{0};
  std::atomic<int> accepted_{0};
  std::atomic<long> answers_{0};
};

}  // namespace lanshu::bench
