// json_flood_bench [FLOODERS] [SECONDS]
//
// The JSON port under a flood beside the decoder, as in the program: audio
// blocks reach the window's thread at the soundcard's pace (46.875 a second;
// a block that finds 8 still waiting is lost, as the soundcard's 8 buffers
// would overrun), the decoding road posts the selected signal's characters to
// the server, and FLOODERS clients (default 50) send as fast as the port
// takes it, half of them bad lines, half valid settings requests, each
// reading every reply. A well-behaved client subscribed to raw characters
// asks for the settings every 50 ms. Printed side by side, without and with
// the flood: the characters it received, the blocks lost, and how long its
// requests waited for their answers. Goal: with the flood at least 90 % of
// the characters, every answer within 100 ms.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "links/json_server.h"
#include "receiver/decoding_road.h"
#include "receiver/receiver_test_env.h"
#include "support/rtty_synth.h"

namespace {

using namespace brenvo;
using Clock = std::chrono::steady_clock;

constexpr int kBlock = TDecodingRoad::kBlockFrames;
constexpr auto kBlockPeriod = std::chrono::duration<double>(kBlock / 6000.0);
constexpr int kQueuedBlocks = 8;
const std::string kSettingsRequest =
    R"({"Command":"cmdRequestMessageTypes","Arguments":["mtRawChar","mtSettings"]})"
    "\n";

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in a{.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)},
                      .sin_zero = {}};
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    std::perror("json_flood_bench: connect");
    std::exit(2);
  }
  return fd;
}

std::string Repeated(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Floods until stopped, reading every reply.
void Flood(const std::atomic<bool>& stop, uint16_t port, int clients) {
  const std::string bad = Repeated("x\n", 2048), good = Repeated(kSettingsRequest, 64);
  std::vector<pollfd> fds;
  for (int i = 0; i < clients; ++i) fds.push_back({Connect(port), POLLIN | POLLOUT, 0});
  std::vector<char> buf(1 << 16);
  while (!stop) {
    if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents & POLLIN) (void)::recv(fds[i].fd, buf.data(), buf.size(), MSG_DONTWAIT);
      const std::string& out = i % 2 ? bad : good;
      if (fds[i].revents & POLLOUT) (void)::send(fds[i].fd, out.data(), out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
  }
  for (const pollfd& p : fds) ::close(p.fd);
}

struct TResult {
  int64_t Chars = 0;
  int Lost = 0;
  std::vector<double> WaitMs;  // per answered request
};

// The well-behaved client: counts raw characters, times its requests.
void Polite(const std::atomic<bool>& stop, uint16_t port, TResult& r) {
  const int fd = Connect(port);
  std::deque<Clock::time_point> asked;
  std::string pending;
  std::vector<char> buf(1 << 16);
  for (auto next = Clock::now(); !stop;) {
    if (Clock::now() >= next) {
      (void)::send(fd, kSettingsRequest.data(), kSettingsRequest.size(), MSG_NOSIGNAL);
      asked.push_back(Clock::now());
      next += std::chrono::milliseconds(50);
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5) <= 0) continue;
    const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
    if (n <= 0) break;
    pending.append(buf.data(), static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      const std::string line = pending.substr(0, end);
      if (line.find(R"("mtRawChar")") != std::string::npos) ++r.Chars;
      if (line.find(R"("mtSettings")") != std::string::npos && !asked.empty()) {
        r.WaitMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked.front()).count());
        asked.pop_front();
      }
    }
  }
  ::close(fd);
}

TResult Run(const TSingleArray& audio, int flooders) {
  TDecodingRoad road;
  TJsonServer srv;
  road.Links.Server = &srv;
  srv.SetPort(0);
  srv.Start();
  const uint16_t port = srv.ListeningPort();
  TResult r;
  std::atomic<bool> stop{false};
  std::thread flood(Flood, std::cref(stop), port, flooders);
  std::thread polite(Polite, std::cref(stop), port, std::ref(r));
  while (srv.UserCount() < flooders + 1) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

  // The soundcard: blocks handed to this thread as its capture thread does.
  QObject context;
  std::atomic<int> queued{0};
  std::thread card([&] {
    const auto start = Clock::now();
    const std::size_t blocks = audio.size() / kBlock;
    for (std::size_t n = 0; n < blocks; ++n) {
      std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(kBlockPeriod * n));
      if (queued >= kQueuedBlocks) {
        ++r.Lost;
        continue;
      }
      ++queued;
      QMetaObject::invokeMethod(
          &context,
          [&, n] {
            const TDataBufferF in{TSingleArray(audio.begin() + n * kBlock, audio.begin() + (n + 1) * kBlock)};
            road.AudioDataArrived(in);
            --queued;
          },
          Qt::QueuedConnection);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last lines reach the client
    QMetaObject::invokeMethod(&context, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  QCoreApplication::exec();
  card.join();
  stop = true;
  flood.join();
  polite.join();
  return r;
}

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int flooders = argc > 1 ? std::atoi(argv[1]) : 50;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 15.0;
  if (flooders < 0 || flooders >= TJsonServer::kMaxClients || seconds <= 0) {
    std::fprintf(stderr, "usage: json_flood_bench [FLOODERS (0..%d)] [SECONDS]\n", TJsonServer::kMaxClients - 1);
    return 2;
  }
  testing::EnsureDecoderGlobals();
  // A signal on the default tones, which the road's selected channel decodes.
  std::string text;
  while (text.size() < seconds * 6) text += "CQ CQ DE DL1ABC DL1ABC PSE K ";
  const testing::RttySynthParams p{.IdleBeforeSec = 0.5, .TrailSilenceSec = 1.5};
  const TSingleArray audio = testing::SynthesizeText(p, text.substr(0, static_cast<std::size_t>(seconds * 6))).Samples;

  const TResult calm = Run(audio, 0), flood = Run(audio, flooders);
  std::printf("%-34s %12s %12s\n", "", "no flood", std::to_string(flooders).append(" flooding").c_str());
  std::printf("%-34s %12lld %12lld\n", "characters received", static_cast<long long>(calm.Chars),
              static_cast<long long>(flood.Chars));
  std::printf("%-34s %12d %12d\n", "audio blocks lost", calm.Lost, flood.Lost);
  std::printf("%-34s %12zu %12zu\n", "requests answered", calm.WaitMs.size(), flood.WaitMs.size());
  std::printf("%-34s %12.2f %12.2f\n", "answer time, median (ms)", Percentile(calm.WaitMs, 0.5),
              Percentile(flood.WaitMs, 0.5));
  std::printf("%-34s %12.2f %12.2f\n", "answer time, largest (ms)", Percentile(calm.WaitMs, 1.0),
              Percentile(flood.WaitMs, 1.0));
  const double kept = calm.Chars ? 100.0 * static_cast<double>(flood.Chars) / static_cast<double>(calm.Chars) : 0;
  std::printf("characters kept under the flood: %.1f %%\n", kept);
  return 0;
}
