// The network layer as a server meets many peers over 127.0.0.1: twenty
// peers each send a 64-byte message every 20 ms while the program pumps once
// per 16 ms frame and takes what arrived (each peer's median latency, the
// best, middle and worst of them), and twenty peers flood it (the longest
// and the median time of one pump, and the fewest bytes any peer got in).
// The network is started as a start would be added to the library.
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/core/ring_buffer.h"
#include "lib/system/network.h"
#include "lib/system/window_system.h"
#include "platform/net/winsock.h"
#include "platform/window/backend.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPeers = 20;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The library on the headless desktop, the network's hidden window and a
// listening record on a free loopback port; returns the port (0: failed).
uint16_t StartLibraryAndNetwork() {
  if (std::getenv("RORUD_PLATFORM") == nullptr) plat::SetBackend(plat::Backend::kHeadless);
  auto folder = std::filesystem::temp_directory_path() / "rorud-bench-net-peers";
  std::filesystem::create_directories(folder);
  plat::SetWindowLockFolder(folder.string());
  SetLogFileEnabled(0);
  SetWindowTitle("network benchmark");
  ChangeWindowMode(1);
  SetRunInactiveFlag(1);
  if (LibraryStart() != 0) return 0;
  auto startup = reinterpret_cast<int (*)(uint16_t, plat::WsaData*)>(GetLoadedFunction("WSAStartup"));
  plat::WsaData data;
  if (startup == nullptr || startup(0x0202, &data) != 0) return 0;
  plat::RegisterWindowClass("RoRudNetworkBench", NetworkWindowProc);
  NetworkState& s = GetNetworkState();
  s.window = plat::CreateWindow("RoRudNetworkBench", "", 0, 0, 0, 0, 0, 0);
  if (s.window == nullptr) return 0;
  s.window_destroyed = 0;
  s.started = 1;
  auto* listener = static_cast<NetworkRecord*>(RR_CALLOC(sizeof(NetworkRecord)));
  listener->in_use = 1;
  listener->open = 1;
  listener->framed_receive = 1;
  listener->socket = plat::Socket(plat::kAfInet, plat::kSockStream, plat::kIpProtoTcp);
  plat::SockAddrIn any{};
  any.family = plat::kAfInet;
  any.address[0] = 127;
  any.address[3] = 1;
  if (plat::Bind(listener->socket, reinterpret_cast<plat::SockAddr*>(&any), sizeof(any)) != 0 ||
      plat::Listen(listener->socket, 64) != 0 ||
      plat::WsaAsyncSelect(listener->socket, s.window, kNetworkSocketMessage, plat::kFdAccept) != 0) {
    return 0;
  }
  listener->check_value = s.check_counter++;
  const int32_t handle = s.table.AddAt(kNetworkListenSlot, listener->check_value, listener);
  ListAppend(&s.head, &listener->node, handle, listener);
  plat::SockAddrIn own{};
  int length = sizeof(own);
  plat::GetSockName(listener->socket, reinterpret_cast<plat::SockAddr*>(&own), &length);
  return plat::Ntohs(own.port);
}

// Peer sockets connected and accepted; the handles in peer order.
bool ConnectPeers(uint16_t port, std::vector<int>* fds, std::vector<int32_t>* handles) {
  for (int i = 0; i < kPeers; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) return false;
    fds->push_back(fd);
    // The pump accepts it; the newest record comes first in the live list.
    const auto until = Clock::now() + std::chrono::seconds(5);
    const NetworkState& s = GetNetworkState();
    while (s.table.Count() < i + 2 && Clock::now() < until) {
      PumpNetMessages(1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (s.table.Count() < i + 2) return false;
    handles->push_back(s.head.next->value);
  }
  return true;
}

std::vector<uint8_t> Take(int32_t handle) {
  NetworkRecord* r = GetNetworkState().table.Find(handle);
  std::vector<uint8_t> out(static_cast<size_t>(r != nullptr ? r->complete_bytes : 0));
  if (!out.empty()) RingBufferRead(&r->receive_buffer, out.data(), r->complete_bytes, 0);
  if (r != nullptr) r->complete_bytes = 0;
  return out;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t n) {
  for (size_t done = 0; done < n;) {
    const ssize_t sent = send(fd, bytes + done, n - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

// Frames of 16 ms for the time given; each pumps (the network pump, or the
// library's own) and then runs take.
template <typename Take>
void RunFrames(bool library_pump, Clock::duration length, Take take) {
  const auto end = Clock::now() + length;
  for (auto frame = Clock::now(); Clock::now() < end; frame += std::chrono::milliseconds(16)) {
    std::this_thread::sleep_until(frame);
    if (library_pump) {
      ProcessWindowMessages();
    } else {
      PumpNetMessages(1);
    }
    take();
  }
}

// Arg 0: the network pump once a frame; 1: the library's message pump.
void BM_PeerLatency(benchmark::State& state) {
  const uint16_t port = StartLibraryAndNetwork();
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (port == 0 || !ConnectPeers(port, &fds, &handles)) {
    state.SkipWithError("no network");
    LibraryEnd();
    return;
  }
  std::vector<std::vector<double>> latencies(kPeers);
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> peers;
    for (int i = 0; i < kPeers; ++i) {
      peers.emplace_back([&, i] {
        // Spread over the 20 ms, so that the peers do not send in step.
        std::this_thread::sleep_for(std::chrono::milliseconds(i));
        for (auto next = Clock::now(); !stop; next += std::chrono::milliseconds(20)) {
          std::this_thread::sleep_until(next);
          uint8_t wire[68] = {64};
          const int64_t sent = Clock::now().time_since_epoch().count();
          std::memcpy(wire + 4, &sent, sizeof(sent));
          if (!WriteAll(fds[i], wire, sizeof(wire))) return;
        }
      });
    }
    RunFrames(state.range(0) == 1, std::chrono::seconds(3), [&] {
      const int64_t now = Clock::now().time_since_epoch().count();
      for (int i = 0; i < kPeers; ++i) {
        const std::vector<uint8_t> bytes = Take(handles[i]);
        for (size_t at = 0; at + 64 <= bytes.size(); at += 64) {
          int64_t sent;
          std::memcpy(&sent, bytes.data() + at, sizeof(sent));
          latencies[i].push_back(Millis(Clock::duration(now - sent)));
        }
      }
    });
    stop = true;
    for (std::thread& t : peers) t.join();
  }
  // A peer that got nothing through counts as waiting the whole run.
  std::vector<double> medians;
  int starved = 0;
  for (const auto& l : latencies) {
    starved += l.empty() ? 1 : 0;
    medians.push_back(l.empty() ? 3000.0 : Median(l));
  }
  std::sort(medians.begin(), medians.end());
  state.counters["peers_served_none"] = starved;
  state.counters["best_peer_ms"] = medians.front();
  state.counters["median_peer_ms"] = medians[medians.size() / 2];
  state.counters["worst_peer_ms"] = medians.back();
  for (int fd : fds) close(fd);
  LibraryEnd();
}
BENCHMARK(BM_PeerLatency)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arg: the message size; the twenty peers write as fast as they can.
void BM_FloodPump(benchmark::State& state) {
  const uint16_t port = StartLibraryAndNetwork();
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (port == 0 || !ConnectPeers(port, &fds, &handles)) {
    state.SkipWithError("no network");
    LibraryEnd();
    return;
  }
  const uint32_t body = static_cast<uint32_t>(state.range(0));
  std::vector<double> pumps;
  std::vector<size_t> got(kPeers);
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> peers;
    for (int i = 0; i < kPeers; ++i) {
      peers.emplace_back([&, i] {
        std::vector<uint8_t> wire;
        while (wire.size() < 64 * 1024) {
          const uint8_t word[4] = {static_cast<uint8_t>(body), static_cast<uint8_t>(body >> 8),
                                   static_cast<uint8_t>(body >> 16), static_cast<uint8_t>(body >> 24)};
          wire.insert(wire.end(), word, word + 4);
          wire.insert(wire.end(), body, static_cast<uint8_t>(i));
        }
        while (!stop && WriteAll(fds[i], wire.data(), wire.size())) {
        }
      });
    }
    const auto end = Clock::now() + std::chrono::seconds(3);
    for (auto frame = Clock::now(); Clock::now() < end; frame += std::chrono::milliseconds(16)) {
      std::this_thread::sleep_until(frame);
      const auto start = Clock::now();
      PumpNetMessages(1);
      pumps.push_back(Millis(Clock::now() - start));
      for (int i = 0; i < kPeers; ++i) got[i] += Take(handles[i]).size();
    }
    stop = true;
    for (int fd : fds) shutdown(fd, SHUT_WR);
    for (std::thread& t : peers) t.join();
  }
  state.counters["pump_max_ms"] = *std::max_element(pumps.begin(), pumps.end());
  state.counters["pump_median_ms"] = Median(pumps);
  state.counters["fewest_peer_MB"] = static_cast<double>(*std::min_element(got.begin(), got.end())) / 1e6;
  state.counters["most_peer_MB"] = static_cast<double>(*std::max_element(got.begin(), got.end())) / 1e6;
  for (int fd : fds) close(fd);
  LibraryEnd();
}
BENCHMARK(BM_FloodPump)->Arg(1)->Arg(64 * 1024)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
