// platform/net/winsock.cpp - sockets over POSIX, with the event messages of the
// window-message model posted by one watcher thread.
#include "platform/net/winsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>
#include <vector>

namespace plat {
namespace {

struct Entry {
  int fd;
  int type;                // kSockStream or kSockDgram
  Window* window;          // null: no events are posted
  uint32_t message;
  int32_t events;          // what WsaAsyncSelect asked for
  int32_t armed;           // events that may be posted now
  bool listening;
  bool connecting;         // a non-blocking connect is under way
  bool close_posted;
  bool connected;          // accepted, or its connect finished without error
};

struct Post {
  Window* window;
  uint32_t message;
  SocketHandle socket;
  int32_t event;
  int error;
};

std::mutex g_mu;
std::unordered_map<SocketHandle, Entry> g_sockets;
// Handles are never reused within a run, so a closed one stays refused.
SocketHandle g_next_handle = 0x100;
int g_start_count = 0;
thread_local int g_last_error = 0;

// The watcher and its wake pipe.
std::thread g_watcher;
int g_wake[2] = {-1, -1};
bool g_stop = false;

int ErrorOfErrno(int e) {
  switch (e) {
    case EINTR: return kWsaEIntr;
    case EACCES: case EPERM: return kWsaEAcces;
    case EFAULT: return kWsaEFault;
    case EINVAL: return kWsaEInval;
    case EMFILE: case ENFILE: return kWsaEMFile;
#if EAGAIN != EWOULDBLOCK
    case EWOULDBLOCK:
#endif
    case EAGAIN: return kWsaEWouldBlock;
    case EINPROGRESS: return kWsaEWouldBlock;
    case EALREADY: return kWsaEAlready;
    case ENOTSOCK: case EBADF: return kWsaENotSock;
    case EMSGSIZE: return kWsaEMsgSize;
    case EPROTONOSUPPORT: return kWsaEProtoNoSupport;
    case EOPNOTSUPP: return kWsaEOpNotSupp;
    case EAFNOSUPPORT: return kWsaEAfNoSupport;
    case EADDRINUSE: return kWsaEAddrInUse;
    case EADDRNOTAVAIL: return kWsaEAddrNotAvail;
    case ENETUNREACH: return kWsaENetUnreach;
    case ECONNABORTED: return kWsaEConnAborted;
    case ECONNRESET: case EPIPE: return kWsaEConnReset;
    case ENOBUFS: case ENOMEM: return kWsaENoBufs;
    case EISCONN: return kWsaEIsConn;
    case ENOTCONN: return kWsaENotConn;
    case ESHUTDOWN: return kWsaEShutdown;
    case ETIMEDOUT: return kWsaETimedOut;
    case ECONNREFUSED: return kWsaEConnRefused;
    case EHOSTUNREACH: return kWsaEHostUnreach;
    default: return kWsaEInval;
  }
}

int Fail(int error) {
  g_last_error = error;
  return kSocketError;
}
int FailErrno() { return Fail(ErrorOfErrno(errno)); }

void Wake() {
  if (g_wake[1] >= 0) {
    char c = 1;
    ssize_t ignored = write(g_wake[1], &c, 1);
    (void)ignored;
  }
}

// Caller holds g_mu. Null with the last error set for an unknown handle or
// before a start.
Entry* Find(SocketHandle socket) {
  if (g_start_count == 0) {
    g_last_error = kWsaNotInitialised;
    return nullptr;
  }
  auto it = g_sockets.find(socket);
  if (it == g_sockets.end()) {
    g_last_error = kWsaENotSock;
    return nullptr;
  }
  return &it->second;
}

// The system layout to a POSIX address; false (last error set) when the
// length is short or the family unknown.
bool ToPosix(const SockAddr* address, int length, sockaddr_storage* out, socklen_t* out_length) {
  if (address == nullptr || length < 2) {
    g_last_error = kWsaEFault;
    return false;
  }
  std::memset(out, 0, sizeof(*out));
  if (address->family == kAfInet) {
    if (length < static_cast<int>(sizeof(SockAddrIn))) {
      g_last_error = kWsaEFault;
      return false;
    }
    SockAddrIn in;
    std::memcpy(&in, address, sizeof(in));
    auto* a = reinterpret_cast<sockaddr_in*>(out);
    a->sin_family = AF_INET;
    a->sin_port = in.port;
    std::memcpy(&a->sin_addr, in.address, 4);
    *out_length = sizeof(sockaddr_in);
    return true;
  }
  if (address->family == kAfInet6) {
    if (length < static_cast<int>(sizeof(SockAddrIn6))) {
      g_last_error = kWsaEFault;
      return false;
    }
    SockAddrIn6 in;
    std::memcpy(&in, address, sizeof(in));
    auto* a = reinterpret_cast<sockaddr_in6*>(out);
    a->sin6_family = AF_INET6;
    a->sin6_port = in.port;
    a->sin6_flowinfo = in.flow_info;
    std::memcpy(&a->sin6_addr, in.address, 16);
    a->sin6_scope_id = in.scope_id;
    *out_length = sizeof(sockaddr_in6);
    return true;
  }
  g_last_error = kWsaEAfNoSupport;
  return false;
}

// A POSIX address to the system layout, written when *length says it fits;
// *length becomes the layout's size. False (kWsaEFault) when it does not fit.
bool FromPosix(const sockaddr_storage& in, SockAddr* address, int* length) {
  if (address == nullptr || length == nullptr) return true;
  if (in.ss_family == AF_INET6) {
    if (*length < static_cast<int>(sizeof(SockAddrIn6))) return false;
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&in);
    SockAddrIn6 out{};
    out.family = kAfInet6;
    out.port = a->sin6_port;
    out.flow_info = a->sin6_flowinfo;
    std::memcpy(out.address, &a->sin6_addr, 16);
    out.scope_id = a->sin6_scope_id;
    std::memcpy(address, &out, sizeof(out));
    *length = sizeof(out);
    return true;
  }
  if (*length < static_cast<int>(sizeof(SockAddrIn))) return false;
  const auto* a = reinterpret_cast<const sockaddr_in*>(&in);
  SockAddrIn out{};
  out.family = kAfInet;
  out.port = a->sin_port;
  std::memcpy(out.address, &a->sin_addr, 4);
  std::memcpy(address, &out, sizeof(out));
  *length = sizeof(out);
  return true;
}

// Caller holds g_mu. The events the watcher waits for on this socket.
short PollMask(const Entry& e) {
  if (e.window == nullptr) return 0;
  // After the close only writes are watched: a peer that shut down its
  // sending side may still read what is sent to it.
  if (e.close_posted) return (e.armed & kFdWrite) ? POLLOUT : 0;
  short mask = 0;
  if (e.listening) return (e.armed & kFdAccept) ? POLLIN : 0;
  if (e.connecting) return POLLOUT;
  // An unconnected stream socket reports a hang-up at once; nothing to watch.
  if (e.type == kSockStream && !e.connected) return 0;
  if (e.armed & (kFdRead | kFdClose)) {
    // A socket with unread data and FD_READ not re-enabled is not watched for
    // its close either: the close is found once the data has been read.
    if ((e.armed & kFdRead) || !(e.events & kFdRead)) mask |= POLLIN;
  }
  if (e.armed & kFdWrite) mask |= POLLOUT;
  return mask;
}

// Caller holds g_mu. Works out what the poll result means for one socket and
// queues the messages.
void Examine(SocketHandle handle, Entry& e, short revents, std::vector<Post>* posts) {
  auto post = [&](int32_t event, int error) {
    if (e.events & event) posts->push_back(Post{e.window, e.message, handle, event, error});
  };
  if (e.listening) {
    if ((revents & (POLLIN | POLLERR | POLLHUP)) && (e.armed & kFdAccept)) {
      e.armed &= ~kFdAccept;
      post(kFdAccept, 0);
    }
    return;
  }
  if (e.connecting) {
    if (!(revents & (POLLOUT | POLLERR | POLLHUP))) return;
    int error = 0;
    socklen_t len = sizeof(error);
    getsockopt(e.fd, SOL_SOCKET, SO_ERROR, &error, &len);
    e.connecting = false;
    e.connected = error == 0;
    post(kFdConnect, error != 0 ? ErrorOfErrno(error) : 0);
    if (error != 0) {
      e.armed = 0;
      return;
    }
    if (e.armed & kFdWrite) {
      e.armed &= ~kFdWrite;
      post(kFdWrite, 0);
    }
    return;
  }
  if (e.type == kSockStream && !e.close_posted && (revents & (POLLIN | POLLERR | POLLHUP))) {
    char byte;
    ssize_t n = recv(e.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
      if (e.armed & kFdRead) {
        e.armed &= ~kFdRead;
        post(kFdRead, 0);
      } else {
        e.armed &= ~kFdClose;  // watched for its close only; found after the next read
      }
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      int error = n == 0 ? 0 : ErrorOfErrno(errno);
      e.close_posted = true;
      e.armed &= kFdWrite;
      post(kFdClose, error);
    }
  } else if (e.type == kSockDgram && (revents & POLLIN) && (e.armed & kFdRead)) {
    e.armed &= ~kFdRead;
    post(kFdRead, 0);
  }
  // A socket whose peer has gone reports an error rather than room: the
  // send that the event brings finds out which.
  if ((revents & (POLLOUT | (e.close_posted ? POLLERR | POLLHUP : 0))) && (e.armed & kFdWrite)) {
    e.armed &= ~kFdWrite;
    post(kFdWrite, 0);
  }
}

// Caller holds g_mu. Registers a new socket; without memory for its entry
// the descriptor is closed and WSAENOBUFS kept.
bool AddEntry(SocketHandle handle, const Entry& entry) {
  try {
    g_sockets[handle] = entry;
  } catch (const std::bad_alloc&) {
    close(entry.fd);
    g_last_error = kWsaENoBufs;
    return false;
  }
  return true;
}

bool WatchRound(std::vector<pollfd>& fds, std::vector<SocketHandle>& handles);

// Polls until stopped. A round that runs out of memory for its lists is
// tried again a moment later; the thread never ends on it.
void WatchLoop() {
  std::vector<pollfd> fds;
  std::vector<SocketHandle> handles;
  for (;;) {
    try {
      if (!WatchRound(fds, handles)) return;
    } catch (const std::bad_alloc&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

// One poll of the registered sockets and the messages it posts; false once
// the watcher is stopped.
bool WatchRound(std::vector<pollfd>& fds, std::vector<SocketHandle>& handles) {
  fds.clear();
  handles.clear();
  fds.push_back(pollfd{g_wake[0], POLLIN, 0});
  {
    std::lock_guard<std::mutex> guard(g_mu);
    if (g_stop) return false;
    for (auto& [handle, e] : g_sockets) {
      short mask = PollMask(e);
      if (mask == 0) continue;
      fds.push_back(pollfd{e.fd, mask, 0});
      handles.push_back(handle);
    }
  }
  int n = poll(fds.data(), fds.size(), -1);
  if (n < 0) return true;
  if (fds[0].revents & POLLIN) {
    char drain[64];
    while (read(g_wake[0], drain, sizeof(drain)) > 0) {
    }
  }
  std::lock_guard<std::mutex> guard(g_mu);
  if (g_stop) return false;
  std::vector<Post> posts;
  posts.reserve(6 * fds.size());  // at most one of each event a socket
  for (size_t i = 1; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    auto it = g_sockets.find(handles[i - 1]);
    // Closed or re-registered while the poll ran: the next round decides.
    if (it == g_sockets.end() || it->second.fd != fds[i].fd || it->second.window == nullptr) continue;
    Examine(it->first, it->second, fds[i].revents, &posts);
  }
  // Posted under the lock, so that no message follows a CloseSocket that
  // has returned.
  for (const Post& p : posts) {
    PostMessage(p.window, p.message, p.socket,
                static_cast<intptr_t>(static_cast<uint32_t>(p.event) |
                                      (static_cast<uint32_t>(p.error & 0xFFFF) << 16)));
  }
  return true;
}

// Caller holds g_mu. False when the watcher cannot run: no pipe to wake it,
// or no thread for it (out of memory or over a process limit).
bool StartWatcherLocked() {
  if (g_watcher.joinable()) return true;
  if (g_wake[0] < 0 && pipe2(g_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    g_wake[0] = g_wake[1] = -1;
    return false;
  }
  g_stop = false;
  try {
    g_watcher = std::thread(WatchLoop);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

// Stops the watcher; caller does not hold g_mu.
void StopWatcher() {
  bool running;
  {
    std::lock_guard<std::mutex> guard(g_mu);
    running = g_watcher.joinable();
    if (running) {
      g_stop = true;
      Wake();
    }
  }
  if (running) g_watcher.join();
  // The wake pipe goes with the watcher; a later start makes a new one. A
  // start on another thread while the lock was free runs on this pipe.
  std::lock_guard<std::mutex> guard(g_mu);
  if (g_watcher.joinable()) return;
  for (int& fd : g_wake) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

// A watcher still running at process exit is stopped before the statics it
// uses go away.
struct WatcherReaper {
  ~WatcherReaper() { StopWatcher(); }
} g_reaper;

void SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool BufferOk(const char* buffer, int length) {
  if (length < 0) {
    g_last_error = kWsaEInval;
    return false;
  }
  if (buffer == nullptr && length > 0) {
    g_last_error = kWsaEFault;
    return false;
  }
  return true;
}

}  // namespace

int WsaGetLastError() { return g_last_error; }
void WsaSetLastError(int error) { g_last_error = error; }

int WsaStartup(uint16_t version, WsaData* data) {
  int major = version & 0xFF, minor = version >> 8;
  if (major < 1 || major > 2 || (major == 2 && minor > 2)) {
    if (data != nullptr) {
      *data = WsaData{};
      data->version = 0x0202;
      data->high_version = 0x0202;
    }
    return kWsaVerNotSupported;
  }
  if (data != nullptr) {
    *data = WsaData{};
    data->version = version;
    data->high_version = 0x0202;
    std::strcpy(data->description, "POSIX sockets");
    std::strcpy(data->system_status, "Running");
  }
  std::lock_guard<std::mutex> guard(g_mu);
  ++g_start_count;
  return 0;
}

int WsaCleanup() {
  {
    std::lock_guard<std::mutex> guard(g_mu);
    if (g_start_count == 0) return Fail(kWsaNotInitialised);
    if (--g_start_count > 0) return 0;
    for (auto& [handle, e] : g_sockets) close(e.fd);
    g_sockets.clear();
  }
  StopWatcher();
  return 0;
}

int WsaAsyncSelect(SocketHandle socket, Window* window, uint32_t message, int32_t events) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  if (events != 0 && (window == nullptr || !IsWindow(window))) return Fail(kWsaEInval);
  SetNonBlocking(e->fd);
  e->window = events != 0 ? window : nullptr;
  e->message = message;
  e->events = events;
  e->armed = events & (kFdRead | kFdWrite | kFdAccept | kFdClose);
  if (events != 0 && !StartWatcherLocked()) {
    e->window = nullptr;
    e->events = e->armed = 0;
    return Fail(kWsaENoBufs);
  }
  Wake();
  return 0;
}

SocketHandle Socket(int family, int type, int protocol) {
  std::lock_guard<std::mutex> guard(g_mu);
  if (g_start_count == 0) {
    g_last_error = kWsaNotInitialised;
    return kInvalidSocket;
  }
  int pf = family == kAfInet ? AF_INET : family == kAfInet6 ? AF_INET6 : -1;
  if (pf < 0) {
    g_last_error = kWsaEAfNoSupport;
    return kInvalidSocket;
  }
  int pt = type == kSockStream ? SOCK_STREAM : type == kSockDgram ? SOCK_DGRAM : -1;
  if (pt < 0) {
    g_last_error = kWsaEProtoNoSupport;
    return kInvalidSocket;
  }
  int fd = ::socket(pf, pt | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    FailErrno();
    return kInvalidSocket;
  }
  SocketHandle handle = g_next_handle;
  if (!AddEntry(handle, Entry{fd, type, nullptr, 0, 0, 0, false, false, false, false})) return kInvalidSocket;
  g_next_handle += 4;
  return handle;
}

int Bind(SocketHandle socket, const SockAddr* address, int length) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  sockaddr_storage a;
  socklen_t len;
  if (!ToPosix(address, length, &a, &len)) return kSocketError;
  int yes = 1;
  setsockopt(e->fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  if (::bind(e->fd, reinterpret_cast<sockaddr*>(&a), len) != 0) return FailErrno();
  return 0;
}

int Listen(SocketHandle socket, int backlog) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  if (e->type != kSockStream) return Fail(kWsaEOpNotSupp);
  if (::listen(e->fd, backlog) != 0) return FailErrno();
  e->listening = true;
  if (e->events & kFdAccept) e->armed |= kFdAccept;
  Wake();
  return 0;
}

SocketHandle Accept(SocketHandle socket, SockAddr* address, int* length) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kInvalidSocket;
  if (!e->listening) {
    g_last_error = kWsaEInval;
    return kInvalidSocket;
  }
  if (address != nullptr && (length == nullptr || *length < static_cast<int>(sizeof(SockAddrIn)))) {
    g_last_error = kWsaEFault;
    return kInvalidSocket;
  }
  // Accepting re-enables FD_ACCEPT whatever the outcome.
  if (e->events & kFdAccept) {
    e->armed |= kFdAccept;
    Wake();
  }
  sockaddr_storage peer{};
  socklen_t len = sizeof(peer);
  int fd = accept4(e->fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  if (fd < 0) {
    FailErrno();
    return kInvalidSocket;
  }
  if (!FromPosix(peer, address, length)) {
    close(fd);
    g_last_error = kWsaEFault;
    return kInvalidSocket;
  }
  SocketHandle handle = g_next_handle;
  Entry fresh{fd, kSockStream, e->window, e->message, e->events, 0, false, false, false, true};
  if (fresh.window != nullptr) {
    SetNonBlocking(fd);
    fresh.armed = fresh.events & (kFdRead | kFdWrite | kFdClose);
  }
  if (!AddEntry(handle, fresh)) return kInvalidSocket;
  g_next_handle += 4;
  return handle;
}

int Connect(SocketHandle socket, const SockAddr* address, int length) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  sockaddr_storage a;
  socklen_t len;
  if (!ToPosix(address, length, &a, &len)) return kSocketError;
  int r = ::connect(e->fd, reinterpret_cast<sockaddr*>(&a), len);
  if (r != 0 && errno != EINPROGRESS) return FailErrno();
  if (r == 0 && e->window == nullptr) e->connected = true;
  if (e->window != nullptr && e->type == kSockStream) {
    e->connecting = true;
    e->armed |= e->events & (kFdRead | kFdWrite | kFdClose);
    Wake();
  }
  if (r != 0) return Fail(kWsaEWouldBlock);
  return 0;
}

int Send(SocketHandle socket, const char* buffer, int length, int flags) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  if (!BufferOk(buffer, length)) return kSocketError;
  (void)flags;
  // A peer that has gone must give an error here, never a signal.
  ssize_t n = ::send(e->fd, buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
  if (n < 0) {
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && (e->events & kFdWrite)) {
      e->armed |= kFdWrite;
      Wake();
    }
    return FailErrno();
  }
  return static_cast<int>(n);
}

int Recv(SocketHandle socket, char* buffer, int length, int flags) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  if (!BufferOk(buffer, length)) return kSocketError;
  // Any receive re-enables FD_READ (and with it the watch for the close);
  // the watcher is woken only when that changes what it waits for.
  const int32_t rearm = e->events & (kFdRead | kFdClose);
  if ((e->armed & rearm) != rearm) {
    e->armed |= rearm;
    Wake();
  }
  ssize_t n = ::recv(e->fd, buffer, static_cast<size_t>(length), (flags & kMsgPeek) ? MSG_PEEK : 0);
  if (n < 0) return FailErrno();
  return static_cast<int>(n);
}

int SendTo(SocketHandle socket, const char* buffer, int length, int flags, const SockAddr* to,
           int to_length) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  if (!BufferOk(buffer, length)) return kSocketError;
  (void)flags;
  sockaddr_storage a;
  socklen_t len = 0;
  if (to != nullptr && !ToPosix(to, to_length, &a, &len)) return kSocketError;
  ssize_t n = ::sendto(e->fd, buffer, static_cast<size_t>(length), MSG_NOSIGNAL,
                       to != nullptr ? reinterpret_cast<sockaddr*>(&a) : nullptr, len);
  if (n < 0) {
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && (e->events & kFdWrite)) {
      e->armed |= kFdWrite;
      Wake();
    }
    return FailErrno();
  }
  return static_cast<int>(n);
}

int RecvFrom(SocketHandle socket, char* buffer, int length, int flags, SockAddr* from,
             int* from_length) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  if (!BufferOk(buffer, length)) return kSocketError;
  if (from != nullptr && (from_length == nullptr || *from_length < static_cast<int>(sizeof(SockAddrIn)))) {
    return Fail(kWsaEFault);
  }
  if (e->events & kFdRead) {
    e->armed |= kFdRead;
    Wake();
  }
  sockaddr_storage peer{};
  socklen_t len = sizeof(peer);
  ssize_t n = ::recvfrom(e->fd, buffer, static_cast<size_t>(length), (flags & kMsgPeek) ? MSG_PEEK : 0,
                         reinterpret_cast<sockaddr*>(&peer), &len);
  if (n < 0) return FailErrno();
  if (from != nullptr && len > 0 && !FromPosix(peer, from, from_length)) return Fail(kWsaEFault);
  return static_cast<int>(n);
}

int Shutdown(SocketHandle socket, int how) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  int h = how == kSdReceive ? SHUT_RD : how == kSdSend ? SHUT_WR : how == kSdBoth ? SHUT_RDWR : -1;
  if (h < 0) return Fail(kWsaEInval);
  if (::shutdown(e->fd, h) != 0) return FailErrno();
  return 0;
}

int CloseSocket(SocketHandle socket) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  close(e->fd);
  g_sockets.erase(socket);
  Wake();
  return 0;
}

int GetSockName(SocketHandle socket, SockAddr* address, int* length) {
  std::lock_guard<std::mutex> guard(g_mu);
  Entry* e = Find(socket);
  if (e == nullptr) return kSocketError;
  if (address == nullptr || length == nullptr) return Fail(kWsaEFault);
  sockaddr_storage own{};
  socklen_t len = sizeof(own);
  if (getsockname(e->fd, reinterpret_cast<sockaddr*>(&own), &len) != 0) return FailErrno();
  if (!FromPosix(own, address, length)) return Fail(kWsaEFault);
  return 0;
}

uint16_t Htons(uint16_t value) { return htons(value); }
uint16_t Ntohs(uint16_t value) { return ntohs(value); }

uint32_t InetAddr(const char* text) {
  if (text == nullptr) return 0xFFFFFFFFu;
  in_addr a;
  if (inet_pton(AF_INET, text, &a) != 1) return 0xFFFFFFFFu;
  return a.s_addr;
}

int GetHostName(char* name, int length) {
  {
    std::lock_guard<std::mutex> guard(g_mu);
    if (g_start_count == 0) return Fail(kWsaNotInitialised);
  }
  if (name == nullptr || length <= 0) return Fail(kWsaEFault);
  char host[256] = {};
  if (gethostname(host, sizeof(host) - 1) != 0) return FailErrno();
  if (std::strlen(host) + 1 > static_cast<size_t>(length)) return Fail(kWsaEFault);
  std::memcpy(name, host, std::strlen(host) + 1);
  return 0;
}

}  // namespace plat
