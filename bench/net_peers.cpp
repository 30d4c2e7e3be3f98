// The network layer as a server meets many peers over 127.0.0.1: twenty peers
// each send a 64-byte message every 20 ms while the program pumps once per 16
// ms frame and takes what arrived (each peer's median latency, the best,
// middle and worst of them); 1, 20, 40 or 100 peers flood it (the time and
// the processor time of one pump, the fewest, median and most bytes a peer
// got in, the longest any peer waited between two frames that brought it a
// whole message, and what a pump that began with most sockets holding data
// read, by the system's counters); one peer sends one very large message (the
// longest pump while it arrives, the peak of resident memory, and what the
// layer keeps once it is taken); chatty peers beside a flooding one (their
// latency, its rate); and the end with idle peers and with peers that left
// mid-message. The network is started as a start would be added to the
// library.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_folder.h"
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

constexpr int kLatencyPeers = 20;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The value below which the given fraction of v lies.
double Quantile(std::vector<double> v, double fraction) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(fraction * static_cast<double>(v.size() - 1))];
}
double Median(const std::vector<double>& v) { return Quantile(v, 0.5); }

// The processor time of this thread: unlike the time on the clock, a pump's
// share of it does not grow when the machine's other work preempts it.
double ThreadMillis() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The folder of the window lock, the user's own.
const benchfolder::Folder& LockFolder() {
  static const benchfolder::Folder folder = benchfolder::Make("rorud-bench-net-peers");
  return folder;
}

// The library on the headless desktop, the network's hidden window and a
// listening record on a free loopback port; returns the port (0: failed).
uint16_t StartLibraryAndNetwork() {
  if (std::getenv("RORUD_PLATFORM") == nullptr) plat::SetBackend(plat::Backend::kHeadless);
  plat::SetWindowLockFolder(LockFolder().path);
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

// Peer sockets connected and accepted, after those there are; their handles
// appended in peer order.
bool ConnectPeers(uint16_t port, int count, std::vector<int>* fds, std::vector<int32_t>* handles) {
  const NetworkState& s = GetNetworkState();
  const int32_t before = s.table.Count();
  for (int i = 0; i < count; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) return false;
    fds->push_back(fd);
    // The pump accepts it; the newest record comes first in the live list.
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (s.table.Count() < before + i + 1 && Clock::now() < until) {
      PumpNetMessages(1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (s.table.Count() < before + i + 1) return false;
    handles->push_back(s.head.next->value);
  }
  return true;
}

// The library and its network started, with count peers connected; when
// either cannot be had the benchmark is skipped and the library ended.
bool StartPeers(benchmark::State& state, int count, uint16_t* port, std::vector<int>* fds,
                std::vector<int32_t>* handles) {
  *port = 0;
  if (!benchfolder::Usable(state, LockFolder())) return false;
  *port = StartLibraryAndNetwork();
  if (*port != 0 && ConnectPeers(*port, count, fds, handles)) return true;
  state.SkipWithError("no network");
  LibraryEnd();
  return false;
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

// The program's own ends of the peers' connections, found among the
// process's descriptors by their addresses: the layer keeps them to itself,
// and the system's counters on them say what was read, whatever the layer's
// version. -1 where one is not found.
std::vector<int> ServerEnds(const std::vector<int>& peer_fds) {
  std::vector<uint16_t> peer_ports;
  for (int fd : peer_fds) {
    sockaddr_in own{};
    socklen_t length = sizeof(own);
    getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length);
    peer_ports.push_back(ntohs(own.sin_port));
  }
  std::vector<int> ends(peer_fds.size(), -1);
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return ends;
  while (dirent* entry = readdir(dir)) {
    const int fd = std::atoi(entry->d_name);
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    if (fd <= 2 || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.sin_family != AF_INET) {
      continue;
    }
    for (size_t i = 0; i < peer_ports.size(); ++i) {
      if (ntohs(peer.sin_port) == peer_ports[i] && fd != peer_fds[i]) ends[i] = fd;
    }
  }
  closedir(dir);
  return ends;
}

// What the program has read from one of its ends, by the system's count: the
// bytes that came in, less those still waiting. Also whether any wait.
struct EndCount {
  int64_t read;
  bool waiting;
};
EndCount CountEnd(int fd) {
  tcp_info info{};
  socklen_t length = sizeof(info);
  int waiting = 0;
  if (fd < 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 || ioctl(fd, SIOCINQ, &waiting) != 0) {
    return EndCount{0, false};
  }
  return EndCount{static_cast<int64_t>(info.tcpi_bytes_received) - waiting, waiting > 0};
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
  uint16_t port = 0;
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (!StartPeers(state, kLatencyPeers, &port, &fds, &handles)) return;
  std::vector<std::vector<double>> latencies(kLatencyPeers);
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> peers;
    for (int i = 0; i < kLatencyPeers; ++i) {
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
      for (int i = 0; i < kLatencyPeers; ++i) {
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

// Args: the message size and the number of peers, who write as fast as they
// can.
void BM_FloodPump(benchmark::State& state) {
  const int peer_count = static_cast<int>(state.range(1));
  uint16_t port = 0;
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (!StartPeers(state, peer_count, &port, &fds, &handles)) return;
  const uint32_t body = static_cast<uint32_t>(state.range(0));
  std::vector<double> pumps, pump_cpu;
  std::vector<size_t> got(static_cast<size_t>(peer_count));
  std::vector<Clock::time_point> last_got(static_cast<size_t>(peer_count));
  double longest_gap = 0;
  const std::vector<int> ends = ServerEnds(fds);
  // The bytes the pumps that began with at least three quarters of the
  // peers' sockets holding data read in all, by the system's counters.
  std::vector<double> crowded_mib;
  // Each peer's bytes read from the end of the second second on, by the
  // system's counters: the share it got once every socket was full.
  std::vector<int64_t> late_start(static_cast<size_t>(peer_count), -1), late_read(static_cast<size_t>(peer_count));
  auto count_all = [&](int* holding) {
    int64_t read = 0;
    for (int fd : ends) {
      const EndCount c = CountEnd(fd);
      read += c.read;
      *holding += c.waiting ? 1 : 0;
    }
    return read;
  };
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> peers;
    for (int i = 0; i < peer_count; ++i) {
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
    // The first second lets every peer fill its socket; the gaps are
    // measured from then on.
    const auto begin = Clock::now(), end = begin + std::chrono::seconds(4);
    std::fill(last_got.begin(), last_got.end(), begin + std::chrono::seconds(1));
    for (auto frame = Clock::now(); Clock::now() < end; frame += std::chrono::milliseconds(16)) {
      std::this_thread::sleep_until(frame);
      int holding = 0, ignored = 0;
      const int64_t read_before = count_all(&holding);
      const auto start = Clock::now();
      const double cpu = ThreadMillis();
      PumpNetMessages(1);
      const auto now = Clock::now();
      pump_cpu.push_back(ThreadMillis() - cpu);
      pumps.push_back(Millis(now - start));
      const int64_t read = count_all(&ignored) - read_before;
      if (now >= begin + std::chrono::seconds(1) && 4 * holding >= 3 * peer_count) {
        crowded_mib.push_back(static_cast<double>(read) / (1 << 20));
      }
      if (now >= begin + std::chrono::seconds(2)) {
        for (size_t i = 0; i < ends.size(); ++i) {
          const int64_t n = CountEnd(ends[i]).read;
          if (late_start[i] < 0) late_start[i] = n;
          late_read[i] = n - late_start[i];
        }
      }
      for (int i = 0; i < peer_count; ++i) {
        const size_t n = Take(handles[i]).size();
        got[i] += n;
        if (now < begin + std::chrono::seconds(1)) continue;
        longest_gap = std::max(longest_gap, Millis(now - last_got[i]));
        if (n != 0) last_got[i] = now;
      }
    }
    stop = true;
    for (int fd : fds) shutdown(fd, SHUT_WR);
    for (std::thread& t : peers) t.join();
  }
  state.counters["pump_max_ms"] = *std::max_element(pumps.begin(), pumps.end());
  state.counters["pump_p99_ms"] = Quantile(pumps, 0.99);
  state.counters["pump_median_ms"] = Median(pumps);
  state.counters["pump_max_cpu_ms"] = *std::max_element(pump_cpu.begin(), pump_cpu.end());
  state.counters["fewest_peer_MB"] = static_cast<double>(*std::min_element(got.begin(), got.end())) / 1e6;
  state.counters["most_peer_MB"] = static_cast<double>(*std::max_element(got.begin(), got.end())) / 1e6;
  std::vector<double> got_mb;
  for (size_t n : got) got_mb.push_back(static_cast<double>(n) / 1e6);
  state.counters["median_peer_MB"] = Median(got_mb);
  state.counters["most_to_median_peer"] = *std::max_element(got_mb.begin(), got_mb.end()) / Median(got_mb);
  std::vector<double> late(late_read.begin(), late_read.end());
  state.counters["late_most_to_median_peer"] = *std::max_element(late.begin(), late.end()) / Median(late);
  state.counters["longest_peer_gap_ms"] = longest_gap;
  // Counted by the system on the program's ends: the pumps that began with
  // three quarters of the sockets or more holding data.
  state.counters["crowded_pumps"] = static_cast<double>(crowded_mib.size());
  state.counters["crowded_read_median_MiB"] = Median(crowded_mib);
  state.counters["crowded_read_p90_MiB"] = Quantile(crowded_mib, 0.9);
  state.counters["crowded_read_max_MiB"] =
      crowded_mib.empty() ? 0 : *std::max_element(crowded_mib.begin(), crowded_mib.end());
  for (int fd : fds) close(fd);
  LibraryEnd();
}
BENCHMARK(BM_FloodPump)
    ->Args({1, 20})
    ->Args({64 * 1024, 1})
    ->Args({64 * 1024, 20})
    ->Args({64 * 1024, 40})
    ->Args({64 * 1024, 100})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The process's resident memory, and its peak since the last ResetPeak, in
// bytes (0 where the system does not tell).
int64_t StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) return std::atoll(line.c_str() + length + 1) * 1024;
  }
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The program takes the complete messages where they lie, as a game that
// parses them in place would.
int32_t TakeInPlace(int32_t handle) {
  NetworkRecord* r = GetNetworkState().table.Find(handle);
  RingBuffer& ring = r->receive_buffer;
  const int32_t n = r->complete_bytes;
  if (n > 0) {
    ring.start = static_cast<int32_t>((static_cast<int64_t>(ring.start) + n) % ring.buffer_size);
    ring.data_size -= n;
  }
  r->complete_bytes = 0;
  return n;
}

// Arg: the message size in MiB. The peer sends it as fast as loopback takes
// it while the program pumps back to back.
void BM_LargeMessage(benchmark::State& state) {
  uint16_t port = 0;
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (!StartPeers(state, 1, &port, &fds, &handles)) return;
  const uint32_t length = static_cast<uint32_t>(state.range(0)) << 20;
  std::vector<uint8_t> wire(size_t{length} + 4, 0x5A);
  for (int i = 0; i < 4; ++i) wire[static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
  for (int i = 0; i < 20; ++i) PumpNetMessages(1);
  double pump_max = 0, pump_max_cpu = 0, seconds = 0;
  int64_t peak = 0, kept = 0, kept_rss = 0;
  for (auto _ : state) {
    const int64_t held_before = GetAllocationTotal(), rss_before = StatusBytes("VmRSS:");
    ResetPeak();
    const auto begin = Clock::now();
    std::thread peer([&] { WriteAll(fds[0], wire.data(), wire.size()); });
    int32_t taken = 0;
    while (taken < static_cast<int32_t>(length) && Clock::now() < begin + std::chrono::seconds(60)) {
      const auto start = Clock::now();
      const double cpu = ThreadMillis();
      PumpNetMessages(1);
      pump_max_cpu = std::max(pump_max_cpu, ThreadMillis() - cpu);
      pump_max = std::max(pump_max, Millis(Clock::now() - start));
      taken += TakeInPlace(handles[0]);
    }
    seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    peer.join();
    for (int i = 0; i < 3; ++i) PumpNetMessages(1);
    peak = StatusBytes("VmHWM:") - rss_before;
    kept = GetAllocationTotal() - held_before;
    kept_rss = StatusBytes("VmRSS:") - rss_before;
    if (taken != static_cast<int32_t>(length)) state.SkipWithError("the message did not arrive");
  }
  state.counters["pump_max_ms"] = pump_max;
  state.counters["pump_max_cpu_ms"] = pump_max_cpu;
  state.counters["arrival_s"] = seconds;
  state.counters["peak_rss_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["kept_MB"] = static_cast<double>(kept) / 1e6;
  state.counters["kept_rss_MB"] = static_cast<double>(kept_rss) / 1e6;
  for (int fd : fds) close(fd);
  LibraryEnd();
}
BENCHMARK(BM_LargeMessage)->Arg(64)->Arg(256)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The bytes a flooding peer writes again and again: messages of the body's
// size, filled with its number, at least 64 KiB of them.
std::vector<uint8_t> FloodWire(uint32_t body, uint8_t fill) {
  std::vector<uint8_t> wire;
  while (wire.size() < 64 * 1024) {
    const uint8_t word[4] = {static_cast<uint8_t>(body), static_cast<uint8_t>(body >> 8),
                             static_cast<uint8_t>(body >> 16), static_cast<uint8_t>(body >> 24)};
    wire.insert(wire.end(), word, word + 4);
    wire.insert(wire.end(), body, fill);
  }
  return wire;
}

// Peers 0..senders-1 of fds flood the program with messages of the body's
// size while it runs frames of 16 ms, pumping (the network pump, or the
// library's) and taking what came. Returns the bytes a second it took over
// the time given, after 1.5 seconds in which the sockets' receive buffers
// grow to the pace the program reads at, and the bytes
// each measured frame took. The peers stop writing at a message's end and
// what they sent is taken before it returns, so that the connections can
// serve the next measure.
struct Flow {
  double mib_per_second = 0;
  std::vector<double> frame_mib;
};
Flow MeasureFlow(const std::vector<int>& fds, const std::vector<int32_t>& handles, int senders, uint32_t body,
                 bool library_pump, Clock::duration length) {
  std::atomic<bool> stop{false};
  std::atomic<int> stopped{0};
  std::vector<std::thread> peers;
  for (int i = 0; i < senders; ++i) {
    peers.emplace_back([&, i] {
      const std::vector<uint8_t> wire = FloodWire(body, static_cast<uint8_t>(i));
      while (!stop && WriteAll(fds[static_cast<size_t>(i)], wire.data(), wire.size())) {
      }
      ++stopped;
    });
  }
  auto pump_and_take = [&] {
    if (library_pump) {
      ProcessWindowMessages();
    } else {
      PumpNetMessages(1);
    }
    int64_t n = 0;
    for (int i = 0; i < senders; ++i) n += TakeInPlace(handles[static_cast<size_t>(i)]);
    return n;
  };
  Flow flow;
  const auto begin = Clock::now() + std::chrono::milliseconds(1500), end = begin + length;
  int64_t taken = 0;
  for (auto frame = Clock::now(); Clock::now() < end; frame += std::chrono::milliseconds(16)) {
    std::this_thread::sleep_until(frame);
    const int64_t n = pump_and_take();
    if (Clock::now() < begin) continue;
    taken += n;
    flow.frame_mib.push_back(static_cast<double>(n) / (1 << 20));
  }
  flow.mib_per_second = static_cast<double>(taken) / (1 << 20) / std::chrono::duration<double>(length).count();
  // The rest, taken as fast as the layer reads it.
  stop = true;
  auto quiet = Clock::now();
  while (stopped < senders || Clock::now() < quiet + std::chrono::milliseconds(100)) {
    if (pump_and_take() != 0) quiet = Clock::now();
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  for (std::thread& t : peers) t.join();
  return flow;
}

// Args: the message size, and 0 for the network pump a frame, 1 for the
// library's. One peer floods alone, then beside 20 and beside 100 idle
// connections, in one run: its rates and their ratios to its rate alone,
// and the bytes of the median and the largest frame alone.
void BM_SenderBesideIdle(benchmark::State& state) {
  uint16_t port = 0;
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (!StartPeers(state, 1, &port, &fds, &handles)) return;
  const uint32_t body = static_cast<uint32_t>(state.range(0));
  const bool library_pump = state.range(1) == 1;
  Flow alone, beside20, beside100;
  for (auto _ : state) {
    // A first flow unmeasured: the system grows a socket's receive buffer to
    // the pace it is read at only after a while, and not always as soon.
    MeasureFlow(fds, handles, 1, body, library_pump, std::chrono::seconds(1));
    alone = MeasureFlow(fds, handles, 1, body, library_pump, std::chrono::seconds(3));
    if (!ConnectPeers(port, 20, &fds, &handles)) state.SkipWithError("no network");
    beside20 = MeasureFlow(fds, handles, 1, body, library_pump, std::chrono::seconds(3));
    if (!ConnectPeers(port, 80, &fds, &handles)) state.SkipWithError("no network");
    beside100 = MeasureFlow(fds, handles, 1, body, library_pump, std::chrono::seconds(3));
  }
  state.counters["alone_MiB_s"] = alone.mib_per_second;
  state.counters["idle20_MiB_s"] = beside20.mib_per_second;
  state.counters["idle100_MiB_s"] = beside100.mib_per_second;
  state.counters["idle20_ratio"] = beside20.mib_per_second / alone.mib_per_second;
  state.counters["idle100_ratio"] = beside100.mib_per_second / alone.mib_per_second;
  state.counters["alone_frame_median_MiB"] = Median(alone.frame_mib);
  state.counters["alone_frame_max_MiB"] = *std::max_element(alone.frame_mib.begin(), alone.frame_mib.end());
  for (int fd : fds) close(fd);
  LibraryEnd();
}
BENCHMARK(BM_SenderBesideIdle)
    ->Args({64 * 1024, 0})
    ->Args({64 * 1024, 1})
    ->Args({256, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One peer floods 64 KiB messages alone, then ten together, in one run: the
// rates and their ratio.
void BM_SendersTogether(benchmark::State& state) {
  uint16_t port = 0;
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (!StartPeers(state, 1, &port, &fds, &handles)) return;
  Flow one, ten;
  for (auto _ : state) {
    MeasureFlow(fds, handles, 1, 64 * 1024, false, std::chrono::seconds(1));
    one = MeasureFlow(fds, handles, 1, 64 * 1024, false, std::chrono::seconds(3));
    if (!ConnectPeers(port, 9, &fds, &handles)) state.SkipWithError("no network");
    ten = MeasureFlow(fds, handles, 10, 64 * 1024, false, std::chrono::seconds(3));
  }
  state.counters["one_MiB_s"] = one.mib_per_second;
  state.counters["ten_MiB_s"] = ten.mib_per_second;
  state.counters["ten_ratio"] = ten.mib_per_second / one.mib_per_second;
  state.counters["one_frame_median_MiB"] = Median(one.frame_mib);
  state.counters["ten_frame_median_MiB"] = Median(ten.frame_mib);
  for (int fd : fds) close(fd);
  LibraryEnd();
}
BENCHMARK(BM_SendersTogether)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 100 peers flood 64 KiB messages while 4 more each send a 64-byte message
// every 20 ms, and the program pumps once per 16 ms frame: the time of one
// pump (and its processor time, which the machine's other work does not
// inflate), the tickers' median latencies, and whether every flooder got
// through.
void BM_FloodWithTickers(benchmark::State& state) {
  constexpr int kFlooders = 100, kTickers = 4;
  uint16_t port = 0;
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (!StartPeers(state, kFlooders + kTickers, &port, &fds, &handles)) return;
  std::vector<double> pumps, pump_cpu;
  std::vector<std::vector<double>> latencies(kTickers);
  std::vector<size_t> got(kFlooders);
  std::vector<Clock::time_point> last_got(kFlooders);
  double longest_gap = 0;
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> peers;
    for (int i = 0; i < kFlooders; ++i) {
      peers.emplace_back([&, i] {
        const std::vector<uint8_t> wire = FloodWire(64 * 1024, static_cast<uint8_t>(i));
        while (!stop && WriteAll(fds[static_cast<size_t>(i)], wire.data(), wire.size())) {
        }
      });
    }
    for (int t = 0; t < kTickers; ++t) {
      peers.emplace_back([&, t] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5 * t));
        for (auto next = Clock::now(); !stop; next += std::chrono::milliseconds(20)) {
          std::this_thread::sleep_until(next);
          uint8_t wire[68] = {64};
          const int64_t sent = Clock::now().time_since_epoch().count();
          std::memcpy(wire + 4, &sent, sizeof(sent));
          if (!WriteAll(fds[static_cast<size_t>(kFlooders + t)], wire, sizeof(wire))) return;
        }
      });
    }
    // The first second lets every peer fill its socket; from then on the
    // pumps, the latencies and the gaps are measured.
    const auto begin = Clock::now(), measured = begin + std::chrono::seconds(1), end = begin + std::chrono::seconds(5);
    std::fill(last_got.begin(), last_got.end(), measured);
    for (auto frame = Clock::now(); Clock::now() < end; frame += std::chrono::milliseconds(16)) {
      std::this_thread::sleep_until(frame);
      const auto start = Clock::now();
      const double cpu = ThreadMillis();
      PumpNetMessages(1);
      const auto now = Clock::now();
      const bool counted = now >= measured;
      if (counted) pumps.push_back(Millis(now - start));
      if (counted) pump_cpu.push_back(ThreadMillis() - cpu);
      for (int i = 0; i < kFlooders; ++i) {
        const int32_t n = TakeInPlace(handles[static_cast<size_t>(i)]);
        got[static_cast<size_t>(i)] += static_cast<size_t>(n);
        if (!counted) continue;
        longest_gap = std::max(longest_gap, Millis(now - last_got[static_cast<size_t>(i)]));
        if (n != 0) last_got[static_cast<size_t>(i)] = now;
      }
      const int64_t clock = Clock::now().time_since_epoch().count();
      for (int t = 0; t < kTickers; ++t) {
        const std::vector<uint8_t> bytes = Take(handles[static_cast<size_t>(kFlooders + t)]);
        for (size_t at = 0; counted && at + 64 <= bytes.size(); at += 64) {
          int64_t sent;
          std::memcpy(&sent, bytes.data() + at, sizeof(sent));
          latencies[static_cast<size_t>(t)].push_back(Millis(Clock::duration(clock - sent)));
        }
      }
    }
    stop = true;
    for (int fd : fds) shutdown(fd, SHUT_WR);
    for (std::thread& t : peers) t.join();
  }
  double worst_ticker = 0;
  int starved = 0;
  for (const auto& l : latencies) {
    starved += l.empty() ? 1 : 0;
    worst_ticker = std::max(worst_ticker, l.empty() ? 4000.0 : Median(l));
  }
  for (size_t n : got) starved += n == 0 ? 1 : 0;
  state.counters["pump_median_ms"] = Median(pumps);
  state.counters["pump_p99_ms"] = Quantile(pumps, 0.99);
  state.counters["pump_max_ms"] = *std::max_element(pumps.begin(), pumps.end());
  state.counters["pump_p99_cpu_ms"] = Quantile(pump_cpu, 0.99);
  state.counters["worst_ticker_median_ms"] = worst_ticker;
  // A ticker's sends fall at four places between the pumps (20 ms against
  // 16), so that its latencies gather round four values 4 ms apart, and its
  // median lies between two of them: which two turns on a few messages, and
  // the worst median on the ticker whose sends meet the pump's start. The
  // worst mean and the tickers' latencies together do not.
  std::vector<double> pooled;
  double worst_mean = 0;
  for (const auto& l : latencies) {
    pooled.insert(pooled.end(), l.begin(), l.end());
    if (l.empty()) continue;
    worst_mean = std::max(worst_mean, std::accumulate(l.begin(), l.end(), 0.0) / static_cast<double>(l.size()));
  }
  if (!pooled.empty()) {
    state.counters["worst_ticker_mean_ms"] = worst_mean;
    state.counters["ticker_median_ms"] = Median(pooled);
    state.counters["ticker_p90_ms"] = Quantile(pooled, 0.9);
  }
  state.counters["peers_served_none"] = starved;
  state.counters["fewest_flooder_MB"] = static_cast<double>(*std::min_element(got.begin(), got.end())) / 1e6;
  state.counters["all_MiB_s"] =
      static_cast<double>(std::accumulate(got.begin(), got.end(), size_t{0})) / (1 << 20) / 5.0;
  state.counters["longest_flooder_gap_ms"] = longest_gap;
  for (int fd : fds) close(fd);
  LibraryEnd();
}
BENCHMARK(BM_FloodWithTickers)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// One peer floods 64 KiB messages beside 20 chatty peers, each sending a
// message of 16 to 256 bytes 60 times a second, and 20 idle ones, while the
// program pumps once per 16 ms frame and takes what came: the chatty
// messages' latency (median, 99th percentile, worst) and the flooding
// peer's rate. A chatty message's body starts with its length (2 bytes) and
// the time it was sent, so that the bodies taken together can be parted.
void BM_ChattyBesideBulk(benchmark::State& state) {
  constexpr int kChatty = 20, kIdle = 20;
  uint16_t port = 0;
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (!StartPeers(state, 1 + kChatty + kIdle, &port, &fds, &handles)) return;
  std::vector<double> latencies;
  int64_t bulk_bytes = 0;
  constexpr int kMeasuredSeconds = 4;
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> peers;
    peers.emplace_back([&] {
      const std::vector<uint8_t> wire = FloodWire(64 * 1024, 0);
      while (!stop && WriteAll(fds[0], wire.data(), wire.size())) {
      }
    });
    for (int i = 0; i < kChatty; ++i) {
      peers.emplace_back([&, i] {
        std::mt19937 random(static_cast<uint32_t>(i + 1));
        std::this_thread::sleep_for(std::chrono::microseconds(833 * i));
        for (auto next = Clock::now(); !stop; next += std::chrono::microseconds(16667)) {
          std::this_thread::sleep_until(next);
          const uint32_t body = 16 + random() % 241;
          std::vector<uint8_t> wire(4 + body, static_cast<uint8_t>(i));
          for (int k = 0; k < 4; ++k) wire[static_cast<size_t>(k)] = static_cast<uint8_t>(body >> (8 * k));
          wire[4] = static_cast<uint8_t>(body);
          wire[5] = static_cast<uint8_t>(body >> 8);
          const int64_t sent = Clock::now().time_since_epoch().count();
          std::memcpy(wire.data() + 6, &sent, sizeof(sent));
          if (!WriteAll(fds[static_cast<size_t>(1 + i)], wire.data(), wire.size())) return;
        }
      });
    }
    const auto begin = Clock::now(), measured = begin + std::chrono::seconds(1),
               end = measured + std::chrono::seconds(kMeasuredSeconds);
    for (auto frame = Clock::now(); Clock::now() < end; frame += std::chrono::milliseconds(16)) {
      std::this_thread::sleep_until(frame);
      PumpNetMessages(1);
      const bool counted = Clock::now() >= measured;
      const int32_t n = TakeInPlace(handles[0]);
      if (counted) bulk_bytes += n;
      const int64_t now = Clock::now().time_since_epoch().count();
      for (int i = 0; i < kChatty; ++i) {
        const std::vector<uint8_t> bytes = Take(handles[static_cast<size_t>(1 + i)]);
        for (size_t at = 0; at + 10 <= bytes.size();) {
          const size_t body = bytes[at] | (static_cast<size_t>(bytes[at + 1]) << 8);
          int64_t sent;
          std::memcpy(&sent, bytes.data() + at + 2, sizeof(sent));
          if (counted) latencies.push_back(Millis(Clock::duration(now - sent)));
          at += body;
        }
      }
    }
    stop = true;
    for (int fd : fds) shutdown(fd, SHUT_WR);
    for (std::thread& t : peers) t.join();
  }
  state.counters["chatty_messages"] = static_cast<double>(latencies.size());
  state.counters["chatty_median_ms"] = Median(latencies);
  state.counters["chatty_p99_ms"] = Quantile(latencies, 0.99);
  state.counters["chatty_worst_ms"] = latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end());
  state.counters["bulk_MiB_s"] = static_cast<double>(bulk_bytes) / (1 << 20) / kMeasuredSeconds;
  for (int fd : fds) close(fd);
  LibraryEnd();
}
BENCHMARK(BM_ChattyBesideBulk)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a pump may read in all, by the rule the layer has kept since the
// total was set at a pump's start: a connection holding 8 KiB or more counts
// as a whole sender, one holding less as that part of one; 4 MiB up to ten
// senders, falling in proportion beyond, to 1 MiB.
int64_t RuleTotal(int64_t held_bytes) {
  const int64_t senders = (held_bytes + 8191) / 8192;
  return senders <= 10 ? 4 << 20 : std::max<int64_t>((int64_t{4} << 20) * 10 / senders, 1 << 20);
}

// Args: the peers, and the body of their messages (16 bytes, whose latency
// is measured; -1: 8 KiB and 16 bytes by turns). One peer floods 64 KiB
// messages beside that many connections, which by turns stay idle and each
// send one message a frame, spread over the frame, in four turns of 1.5
// seconds after 1.5 unmeasured ones, while the program pumps once per 16 ms
// frame and takes what came: what the flooding peer read a pump beside idle
// and beside sending peers, by the system's counters on the program's end
// (mean and median), the ratio of the means, its rate beside the sending
// peers, and, for each pump of the sending turns, what it read against what
// the pump's total left after the peers' bytes (the total by the rule above,
// from what every socket held as the pump began; at most 2 MiB): the median
// of that ratio and the share of pumps where it fell below 0.9.
void BM_BulkBesideLight(benchmark::State& state) {
  const int light = static_cast<int>(state.range(0));
  const int64_t size_arg = state.range(1);
  uint16_t port = 0;
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (!StartPeers(state, 1 + light, &port, &fds, &handles)) return;
  const std::vector<int> ends = ServerEnds(fds);
  const int bulk_end = ends[0];
  std::vector<double> idle_mib, light_mib, latencies, left_ratio;
  const auto turn = std::chrono::milliseconds(1500);
  for (auto _ : state) {
    std::atomic<bool> stop{false}, sending{false};
    std::vector<std::thread> peers;
    peers.emplace_back([&] {
      const std::vector<uint8_t> wire = FloodWire(64 * 1024, 0);
      while (!stop && WriteAll(fds[0], wire.data(), wire.size())) {
      }
    });
    peers.emplace_back([&] {
      const auto frame = std::chrono::microseconds(16667);
      int64_t count = 0;
      for (auto next = Clock::now(); !stop; next += frame, ++count) {
        const uint32_t body = size_arg > 0 ? static_cast<uint32_t>(size_arg) : count % 2 == 0 ? 8192 : 16;
        std::vector<uint8_t> wire(4 + body);
        for (int k = 0; k < 4; ++k) wire[static_cast<size_t>(k)] = static_cast<uint8_t>(body >> (8 * k));
        for (int i = 0; i < light && !stop; ++i) {
          std::this_thread::sleep_until(next + frame * i / light);
          if (!sending) continue;
          const int64_t sent = Clock::now().time_since_epoch().count();
          std::memcpy(wire.data() + 4, &sent, sizeof(sent));
          WriteAll(fds[static_cast<size_t>(1 + i)], wire.data(), wire.size());
        }
      }
    });
    const auto begin = Clock::now() + turn;
    for (auto frame = Clock::now(); Clock::now() < begin + 4 * turn; frame += std::chrono::milliseconds(16)) {
      std::this_thread::sleep_until(frame);
      const auto now = Clock::now();
      // Turns 1 and 3 sending, 0 and 2 idle; a frame just after a turn's
      // change still reads what the turn before left.
      const int64_t at = now < begin ? -1 : (now - begin) / turn;
      sending = at == 1 || at == 3;
      int64_t held = 0, peers_before = 0;
      for (size_t i = 1; i < ends.size(); ++i) {
        int waiting = 0;
        if (ioctl(ends[i], SIOCINQ, &waiting) == 0) held += std::min(waiting, 8192);
        peers_before += CountEnd(ends[i]).read;
      }
      int bulk_waiting = 0;
      ioctl(bulk_end, SIOCINQ, &bulk_waiting);
      held += std::min(bulk_waiting, 8192);
      const int64_t before = CountEnd(bulk_end).read;
      PumpNetMessages(1);
      const int64_t bulk = CountEnd(bulk_end).read - before;
      int64_t peers_read = -peers_before;
      for (size_t i = 1; i < ends.size(); ++i) peers_read += CountEnd(ends[i]).read;
      const double mib = static_cast<double>(bulk) / (1 << 20);
      TakeInPlace(handles[0]);
      const int64_t clock = Clock::now().time_since_epoch().count();
      for (int i = 0; i < light; ++i) {
        const std::vector<uint8_t> bytes = Take(handles[static_cast<size_t>(1 + i)]);
        for (size_t k = 0; size_arg == 16 && k + 16 <= bytes.size(); k += 16) {
          int64_t sent;
          std::memcpy(&sent, bytes.data() + k, sizeof(sent));
          if (at >= 0) latencies.push_back(Millis(Clock::duration(clock - sent)));
        }
      }
      if (at < 0) continue;
      (sending ? light_mib : idle_mib).push_back(mib);
      if (sending && bulk_waiting >= 8192) {
        const int64_t left = std::min<int64_t>(RuleTotal(held) - peers_read, 2 << 20);
        if (left > 0) left_ratio.push_back(static_cast<double>(bulk) / static_cast<double>(left));
      }
    }
    stop = true;
    for (int fd : fds) shutdown(fd, SHUT_WR);
    for (std::thread& t : peers) t.join();
  }
  auto mean = [](const std::vector<double>& v) {
    return v.empty() ? 0 : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
  };
  state.counters["bulk_idle_pump_MiB"] = mean(idle_mib);
  state.counters["bulk_light_pump_MiB"] = mean(light_mib);
  state.counters["bulk_idle_pump_median_MiB"] = Median(idle_mib);
  state.counters["bulk_light_pump_median_MiB"] = Median(light_mib);
  state.counters["light_to_idle"] = mean(light_mib) / mean(idle_mib);
  state.counters["bulk_light_MiB_s"] = mean(light_mib) * 1000.0 / 16.0;
  state.counters["left_ratio_median"] = Median(left_ratio);
  state.counters["pumps_below_0.9"] =
      left_ratio.empty() ? 0
                         : static_cast<double>(std::count_if(left_ratio.begin(), left_ratio.end(),
                                                             [](double r) { return r < 0.9; })) /
                               static_cast<double>(left_ratio.size());
  if (size_arg == 16) {
    state.counters["light_messages"] = static_cast<double>(latencies.size());
    state.counters["light_median_ms"] = Median(latencies);
    state.counters["light_p99_ms"] = Quantile(latencies, 0.99);
  }
  for (int fd : fds) close(fd);
  LibraryEnd();
}
BENCHMARK(BM_BulkBesideLight)
    ->Args({39, 16})
    ->Args({100, 16})
    ->Args({39, 1024})
    ->Args({39, 4096})
    ->Args({39, 7168})
    ->Args({39, 8192})
    ->Args({39, 9216})
    ->Args({39, 16384})
    ->Args({39, 65536})
    ->Args({39, -1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Args: the peers, and the body of the one message each sends. A crowd
// connects (the process's descriptor limit raised to its hard limit), then
// every peer sends its message at once, and the program pumps once per 16
// ms frame until it has read every message, or for at most 20 seconds: the
// first pump's time and processor time and what it read (by the system's
// counters), the time to read them all, and what was read.
void BM_Crowd(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const uint32_t body = static_cast<uint32_t>(state.range(1));
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < static_cast<rlim_t>(2 * count + 100)) {
    state.SkipWithError("too few descriptors");
    return;
  }
  uint16_t port = 0;
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (!StartPeers(state, count, &port, &fds, &handles)) return;
  const std::vector<int> ends = ServerEnds(fds);
  for (int i = 0; i < 10; ++i) PumpNetMessages(1);  // the write events of the accepts
  std::vector<uint8_t> wire(4 + body, 7);
  for (int k = 0; k < 4; ++k) wire[static_cast<size_t>(k)] = static_cast<uint8_t>(body >> (8 * k));
  double first_ms = 0, first_cpu = 0, first_mib = 0, all_s = 0;
  int64_t read = 0;
  for (auto _ : state) {
    for (int fd : fds) WriteAll(fd, wire.data(), wire.size());
    // Every message waits in its socket before the first pump.
    const auto until = Clock::now() + std::chrono::seconds(10);
    for (bool all = false; !all && Clock::now() < until;) {
      all = true;
      for (int fd : ends) {
        int waiting = 0;
        all = all && ioctl(fd, SIOCINQ, &waiting) == 0 && waiting == static_cast<int>(wire.size());
      }
    }
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(20);
    std::vector<bool> done(static_cast<size_t>(count));
    int left = count;
    for (auto frame = start; left > 0 && Clock::now() < end; frame += std::chrono::milliseconds(16)) {
      std::this_thread::sleep_until(frame);
      int64_t before = 0;
      if (frame == start) {
        for (int fd : ends) before += CountEnd(fd).read;
      }
      const auto pump_start = Clock::now();
      const double cpu = ThreadMillis();
      PumpNetMessages(1);
      if (frame == start) {
        first_cpu = ThreadMillis() - cpu;
        first_ms = Millis(Clock::now() - pump_start);
        int64_t after = 0;
        for (int fd : ends) after += CountEnd(fd).read;
        first_mib = static_cast<double>(after - before) / (1 << 20);
      }
      for (int i = 0; i < count; ++i) {
        const size_t n = Take(handles[static_cast<size_t>(i)]).size();
        read += static_cast<int64_t>(n);
        if (n != 0 && !done[static_cast<size_t>(i)]) {
          done[static_cast<size_t>(i)] = true;
          --left;
        }
      }
    }
    all_s = left == 0 ? Millis(Clock::now() - start) / 1000 : -1;
  }
  state.counters["first_pump_ms"] = first_ms;
  state.counters["first_pump_cpu_ms"] = first_cpu;
  state.counters["first_pump_MiB"] = first_mib;
  state.counters["all_read_s"] = all_s;
  state.counters["read_MB"] = static_cast<double>(read) / 1e6;
  for (int fd : fds) close(fd);
  LibraryEnd();
}
BENCHMARK(BM_Crowd)->Args({900, 1161})->Args({4600, 16384})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Args: idle peers, and peers that sent part of a message and left. The
// time of the network's end.
void BM_NetworkEnd(benchmark::State& state) {
  if (!benchfolder::Usable(state, LockFolder())) return;
  const uint16_t port = StartLibraryAndNetwork();
  const int idle = static_cast<int>(state.range(0)), left = static_cast<int>(state.range(1));
  std::vector<int> fds;
  std::vector<int32_t> handles;
  if (port == 0 || !ConnectPeers(port, idle + left, &fds, &handles)) {
    state.SkipWithError("no network");
    LibraryEnd();
    return;
  }
  for (int i = idle; i < idle + left; ++i) {
    const uint8_t part[14] = {100, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    WriteAll(fds[static_cast<size_t>(i)], part, sizeof(part));
    close(fds[static_cast<size_t>(i)]);
  }
  // Their first bytes are read; the close may still be on its way.
  const auto until = Clock::now() + std::chrono::seconds(5);
  auto read = [&] {
    for (int i = idle; i < idle + left; ++i) {
      const NetworkRecord* r = GetNetworkState().table.Find(handles[static_cast<size_t>(i)]);
      if (r == nullptr || r->receive_remaining != 90) return false;
    }
    return true;
  };
  while (!read() && Clock::now() < until) PumpNetMessages(1);
  double ms = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    NetworkEnd();
    ms = Millis(Clock::now() - start);
  }
  state.counters["end_ms"] = ms;
  for (int i = 0; i < idle; ++i) close(fds[static_cast<size_t>(i)]);
  LibraryEnd();
}
BENCHMARK(BM_NetworkEnd)->Args({100, 0})->Args({0, 10})->Args({100, 10})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
