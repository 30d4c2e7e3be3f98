// platform/net/winsock.h - TCP and UDP sockets in the manner the library's
// network layer was written for: a start/cleanup count, a per-thread last
// error with the system's own error numbers, socket handles that are not file
// descriptors, socket addresses in the system's layout (family numbers 2 and
// 23), and the window-message model: WsaAsyncSelect makes a socket
// non-blocking and has its events posted to a window as a message whose
// wparam is the socket and whose lparam is the event bit in the low word and
// an error number in the high word.
//
// Events follow the system's re-enabling rules: an event is posted once and
// is posted again only after the call that consumes it (FD_READ after Recv,
// FD_ACCEPT after Accept, FD_WRITE after a Send that would block); FD_CLOSE
// is posted once, when the peer has closed and no data is left to read.
// A watcher thread polls the registered sockets and posts the messages with
// PostMessage, so they arrive through the ordinary message queue of the
// window's thread.
//
// Every call refuses a handle that this layer did not create (or already
// closed) with kWsaENotSock, and every call but WsaStartup, Htons, Ntohs and
// InetAddr fails with kWsaNotInitialised before a start.
#pragma once

#include <cstdint>

#include "platform/window/window.h"

namespace plat {

using SocketHandle = uintptr_t;
constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);
constexpr int kSocketError = -1;

// Address families, socket types, protocols.
constexpr int kAfInet = 2;
constexpr int kAfInet6 = 23;
constexpr int kSockStream = 1;
constexpr int kSockDgram = 2;
constexpr int kIpProtoTcp = 6;
constexpr int kIpProtoUdp = 17;

// Send and receive flags.
constexpr int kMsgPeek = 0x2;
// Shutdown directions.
constexpr int kSdReceive = 0, kSdSend = 1, kSdBoth = 2;

// Event bits of WsaAsyncSelect.
constexpr int32_t kFdRead = 0x01;
constexpr int32_t kFdWrite = 0x02;
constexpr int32_t kFdOob = 0x04;
constexpr int32_t kFdAccept = 0x08;
constexpr int32_t kFdConnect = 0x10;
constexpr int32_t kFdClose = 0x20;

// Error numbers (WsaGetLastError and the high word of an event message).
constexpr int kWsaEIntr = 10004;
constexpr int kWsaEAcces = 10013;
constexpr int kWsaEFault = 10014;
constexpr int kWsaEInval = 10022;
constexpr int kWsaEMFile = 10024;
constexpr int kWsaEWouldBlock = 10035;
constexpr int kWsaEInProgress = 10036;
constexpr int kWsaEAlready = 10037;
constexpr int kWsaENotSock = 10038;
constexpr int kWsaEMsgSize = 10040;
constexpr int kWsaEProtoNoSupport = 10043;
constexpr int kWsaEOpNotSupp = 10045;
constexpr int kWsaEAfNoSupport = 10047;
constexpr int kWsaEAddrInUse = 10048;
constexpr int kWsaEAddrNotAvail = 10049;
constexpr int kWsaENetUnreach = 10051;
constexpr int kWsaEConnAborted = 10053;
constexpr int kWsaEConnReset = 10054;
constexpr int kWsaENoBufs = 10055;
constexpr int kWsaEIsConn = 10056;
constexpr int kWsaENotConn = 10057;
constexpr int kWsaEShutdown = 10058;
constexpr int kWsaETimedOut = 10060;
constexpr int kWsaEConnRefused = 10061;
constexpr int kWsaEHostUnreach = 10065;
constexpr int kWsaSysNotReady = 10091;
constexpr int kWsaVerNotSupported = 10092;
constexpr int kWsaNotInitialised = 10093;

// Socket addresses in the system's layout; port and address in network byte
// order.
struct SockAddr {
  uint16_t family;
  uint8_t data[14];
};
struct SockAddrIn {
  uint16_t family;  // kAfInet
  uint16_t port;
  uint8_t address[4];
  uint8_t zero[8];
};
struct SockAddrIn6 {
  uint16_t family;  // kAfInet6
  uint16_t port;
  uint32_t flow_info;
  uint8_t address[16];
  uint32_t scope_id;
};
static_assert(sizeof(SockAddrIn) == 16 && sizeof(SockAddrIn6) == 28, "system layouts");

// What WsaStartup reports.
struct WsaData {
  uint16_t version;
  uint16_t high_version;
  char description[257];
  char system_status[129];
};

// The last error of the calling thread.
int WsaGetLastError();
void WsaSetLastError(int error);

// Version: low byte major, high byte minor; versions 1.0 to 2.2 are taken.
// Each successful start must be matched by a cleanup; the last cleanup closes
// every socket still open and stops the watcher.
int WsaStartup(uint16_t version, WsaData* data);
int WsaCleanup();

// Registers events for the socket (events 0: none, the socket stays
// non-blocking); a later call replaces the earlier one. Posting starts with
// FD_WRITE for a connected socket and FD_ACCEPT for a pending connection.
int WsaAsyncSelect(SocketHandle socket, Window* window, uint32_t message, int32_t events);

SocketHandle Socket(int family, int type, int protocol);
int Bind(SocketHandle socket, const SockAddr* address, int length);
int Listen(SocketHandle socket, int backlog);
// The new socket inherits the listening socket's event registration. The
// address is written only when length says it fits; length becomes the
// address's size.
SocketHandle Accept(SocketHandle socket, SockAddr* address, int* length);
int Connect(SocketHandle socket, const SockAddr* address, int length);
// Bytes sent or received, kSocketError with the last error set (receive 0:
// the peer closed).
int Send(SocketHandle socket, const char* buffer, int length, int flags);
int Recv(SocketHandle socket, char* buffer, int length, int flags);
int SendTo(SocketHandle socket, const char* buffer, int length, int flags, const SockAddr* to,
           int to_length);
int RecvFrom(SocketHandle socket, char* buffer, int length, int flags, SockAddr* from,
             int* from_length);
int Shutdown(SocketHandle socket, int how);
int CloseSocket(SocketHandle socket);
// The socket's own address (after bind with port 0, the port chosen).
int GetSockName(SocketHandle socket, SockAddr* address, int* length);

uint16_t Htons(uint16_t value);
uint16_t Ntohs(uint16_t value);
// Dotted IPv4 text to an address in network byte order; 0xFFFFFFFF for text
// that is not one.
uint32_t InetAddr(const char* text);
int GetHostName(char* name, int length);

}  // namespace plat
