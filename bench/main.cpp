// cabrix_bench: the console tool's speed, memory and processor time against plcsim, beside the
// ceilings of the protocol on this machine, in one run. Prints a table and writes JSON.
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ceiling.h"
#include "process/subprocess.h"
#include "stats.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using cabrix::test::ProcessOptions;
using cabrix::test::ProcessResult;
using cabrix::test::Subprocess;
using Env = std::vector<std::pair<std::string, std::string>>;

namespace {

constexpr double kLineBytesPerSecond = 11520;  // 115200 baud, 10 bits a byte
constexpr auto kTcpRunLimit = 120s;
constexpr auto kSerialRunLimit = 400s;
constexpr auto kReadyLimit = 10s;
constexpr std::uint64_t kCeilingTrips = 20000;  // at most, for one ceiling run

struct Options {
  std::string cabrix;
  std::string plcsim;
  std::string out = "bench/results.json";
  bool quick = false;
  bool serialOnly = false;  // only the two serial sections, for a quick look at the line
  int repetitions = 5;
};

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "cabrix_bench: %s\n", why.c_str());
  std::exit(1);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail("missing value after " + a);
      return argv[++i];
    };
    if (a == "--cabrix") {
      o.cabrix = value();
    } else if (a == "--plcsim") {
      o.plcsim = value();
    } else if (a == "--out") {
      o.out = value();
    } else if (a == "--quick") {
      o.quick = true;
    } else if (a == "--serial-only") {
      o.serialOnly = true;
    } else if (a == "--repetitions") {
      o.repetitions = std::max(1, std::atoi(value().c_str()));
    } else {
      Fail("unknown argument " + a +
           " (use --cabrix PATH --plcsim PATH [--out FILE] [--quick] [--serial-only] [--repetitions N])");
    }
  }
  if (o.cabrix.empty() || o.plcsim.empty()) Fail("--cabrix and --plcsim are needed");
  return o;
}

void WriteRandomFile(const fs::path& path, std::uint64_t size, std::uint64_t seed) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> buf(1 << 16);
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (std::uint64_t done = 0; done < size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), size - done));
    for (std::size_t i = 0; i < n; ++i) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      buf[i] = static_cast<char>(x >> 24);
    }
    out.write(buf.data(), static_cast<std::streamsize>(n));
    done += n;
  }
  if (!out) Fail("cannot write " + path.string());
}

// Where the benchmark's processes run. Left to the scheduler, the two ends of an exchange share
// a processor in some runs and not in others, and a round trip takes several times longer when
// a sleeping processor must be woken: the figures would swing between runs. So each end is
// placed: the PC's side (the benchmark, cabrix, the ceiling's sender) and the controller's side
// (plcsim, the ceiling's receiver) on two processors, or both on one.
enum class Placement { kTwoCores, kOneCore };

// The processors this process may use, in order.
std::vector<int> AllowedCpus() {
  std::vector<int> cpus;
  cpu_set_t allowed;
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
  }
  return cpus;
}

bool PinTo(pid_t pid, int cpu) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  return ::sched_setaffinity(pid, sizeof one, &one) == 0;
}

void PinToAll(pid_t pid, const std::vector<int>& cpus) {
  cpu_set_t all;
  CPU_ZERO(&all);
  for (const int cpu : cpus) CPU_SET(cpu, &all);
  ::sched_setaffinity(pid, sizeof all, &all);
}

std::string FirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line.empty() ? "no message" : line;
}

bool SameContents(const fs::path& a, const fs::path& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  if (!fa || !fb) return false;
  std::vector<char> ba(1 << 16), bb(1 << 16);
  for (;;) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount()) return false;
    if (!std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin())) return false;
    if (fa.gcount() == 0) return true;
  }
}

std::string ReadFrom(const fs::path& path, std::uintmax_t offset) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::uintmax_t SizeOf(const fs::path& path) {
  std::error_code ec;
  const auto n = fs::file_size(path, ec);
  return ec ? 0 : n;
}

// plcsim, started and ready, stopped at the end.
class Controller {
 public:
  Controller(const Options& o, std::vector<std::string> args, const fs::path& errPath) {
    args.insert(args.begin(), o.plcsim);
    m_child.emplace(Start(args, errPath));
    const auto line = m_child->WaitForFirstLine(kReadyLimit);
    if (!line || line->find("plcsim ready:") != 0) {
      Fail("plcsim did not report ready (see " + errPath.string() + ")");
    }
  }
  ~Controller() {
    m_child->Signal(SIGTERM);
    m_child->Wait(5s);
  }
  pid_t Pid() const { return m_child->Pid(); }

  // A child of the benchmark, with its standard error in `errPath`.
  static Subprocess Start(const std::vector<std::string>& argv, const fs::path& errPath) {
    ProcessOptions options;
    options.errPath = errPath.string();
    options.endWithParentThread = true;  // a benchmark stopped by a signal takes it along
    try {
      return Subprocess(argv, options);
    } catch (const std::exception& e) {
      Fail(e.what());
    }
  }

 private:
  std::optional<Subprocess> m_child;
};

struct Sample {
  std::vector<double> wall, cpu, rss;
  bool allOk = true;
  double MedianWall() const { return bench::Median(wall); }
  double MedianCpu() const { return bench::Median(cpu); }
  double MaxRss() const { return rss.empty() ? 0 : *std::max_element(rss.begin(), rss.end()); }
};

struct Transfer {
  std::string label;
  std::uint64_t size;
  fs::path file;
};

// One run of cabrix: an upload of `name` from `folder`, or a download into it.
// A program run to its end by the benchmark, its output discarded, bounded by `limit`.
ProcessResult RunToEnd(const std::vector<std::string>& argv, const Env& env,
                       std::chrono::milliseconds limit) {
  ProcessOptions options;
  options.setEnv = env;
  options.errPath = "/dev/null";
  options.endWithParentThread = true;
  try {
    return cabrix::test::RunProcess(argv, limit, options);
  } catch (const std::exception&) {
    return {};
  }
}

ProcessResult RunCabrix(const Options& o, const std::string& link, bool upload,
                        const fs::path& folder, const std::string& name, const Env& env,
                        std::chrono::milliseconds limit) {
  return RunToEnd({o.cabrix, link, "/FLDR" + folder.string(), upload ? "/up" : "/dn", name}, env,
                  limit);
}

void Add(Sample& s, const ProcessResult& r) {
  s.allOk = s.allOk && r.ExitedWith(0);
  s.wall.push_back(r.wallSeconds);
  s.cpu.push_back(r.userSeconds + r.systemSeconds);
  s.rss.push_back(double(r.maxRssKib));
}

std::string Ratio(double r) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", r);
  return text;
}

std::string Rate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond >= 1e6) {
    std::snprintf(text, sizeof text, "%.2f MB/s", bytesPerSecond / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1e3);
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows as it goes, also into a file
  const Options o = ParseOptions(argc, argv);
  char tmpl[] = "/tmp/cabrix-bench.XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) Fail("cannot make a work folder");
  const fs::path work = tmpl;
  const fs::path pc = work / "pc", back = work / "back", store = work / "store";
  const fs::path countStore = work / "count-store", serialStore = work / "serial-store";
  const fs::path xdg = work / "xdg";
  for (const auto& d : {pc, back, store, countStore, serialStore, xdg / "cabrix" / "dosdevices"}) {
    fs::create_directories(d);
  }

  std::vector<Transfer> files = {{"64KiB", 64 << 10, {}},  {"256KiB", 256 << 10, {}},
                                 {"1MiB", 1 << 20, {}},    {"16MiB", 16 << 20, {}},
                                 {"64MiB", 64 << 20, {}}};
  for (std::size_t i = 0; i < files.size(); ++i) {
    files[i].file = pc / ("f" + files[i].label + ".bin");
    WriteRandomFile(files[i].file, files[i].size, i + 1);
  }
  auto byLabel = [&](const std::string& l) -> const Transfer& {
    for (const auto& f : files) {
      if (f.label == l) return f;
    }
    Fail("no file " + l);
  };

  bench::JsonObject json;
  std::ostringstream table;
  std::printf("cabrix_bench: work folder %s, %d repetitions\n", work.c_str(), o.repetitions);

  const int net = 20 + static_cast<int>(::getpid() % 200);
  const std::string timedAddr = "127.88." + std::to_string(net) + ".1";
  const std::string countAddr = "127.88." + std::to_string(net) + ".2";
  const std::string timedLink = "/TCP" + timedAddr, countLink = "/TCP" + countAddr;

  // 1. Loopback TCP. Each transfer's units are counted once by a logging plcsim beside the
  // timed one. Every timed run is paired with a ceiling run of the same units just before it, so
  // that a ratio compares two measurements taken under the same conditions of the machine.
  const fs::path countLog = work / "count.log";
  const std::vector<int> cpus = AllowedCpus();
  std::map<std::string, bench::WireCount> counts;
  // For the TFTP comparison and the unpaced serial line beside TCP.
  std::map<std::string, double> twoCoreRates, twoCoreTripRates, twoCoreCeilTrips;
  const std::vector<const char*> tcpLabels = {"64KiB", "256KiB", "1MiB", "16MiB"};
  if (!o.serialOnly) {
    Controller timed(o, {"--store", store.string(), "--tcp", timedAddr}, work / "plcsim-tcp.err");
    Controller counting(o, {"--store", countStore.string(), "--tcp", countAddr, "--log",
                            countLog.string()},
                        work / "plcsim-count.err");
    for (const char* label : tcpLabels) {
      const Transfer& f = byLabel(label);
      for (const bool upload : {true, false}) {
        const auto before = SizeOf(countLog);
        const auto r = RunCabrix(o, countLink, upload, upload ? pc : back,
                                 f.file.filename().string(), {}, kTcpRunLimit);
        if (!r.ExitedWith(0)) Fail("a counting run of " + f.label + " failed");
        counts[std::string(label) + (upload ? "-up" : "-down")] =
            bench::CountWireBytes(ReadFrom(countLog, before));
      }
    }

    bench::JsonObject tcpJson;
    for (const Placement placement : {Placement::kTwoCores, Placement::kOneCore}) {
      const bool oneCore = placement == Placement::kOneCore;
      // On one core every system call and every byte of work of both programs adds to each
      // round trip; on two, the time a sleeping processor takes to wake up dominates.
      if (cpus.empty() || (!oneCore && cpus.size() < 2)) {
        std::printf("\n(%s: not enough processors to place the processes, skipped)\n",
                    oneCore ? "one core" : "two cores");
        continue;
      }
      const int pcCpu = cpus[0];
      const int controllerCpu = oneCore ? cpus[0] : cpus[1];
      if (!PinTo(0, pcCpu) || !PinTo(timed.Pid(), controllerCpu)) {
        std::printf("\n(cannot set the processor affinity, skipped)\n");
        continue;
      }
      std::printf("\nTCP loopback, %s, %s (median of %d runs of the whole cabrix process)\n",
                  timedAddr.c_str(),
                  oneCore ? "both ends on one processor" : "each end on a processor of its own",
                  o.repetitions);
      std::printf("%-8s %-5s %12s %8s %10s %10s %10s %12s %10s\n", "file", "dir", "rate",
                  "ratio", "trips/s", "ceiling", "trip ratio", "cpu/frame", "max RSS");
      bench::JsonObject placementJson;
      for (const char* label : tcpLabels) {
        const Transfer& f = byLabel(label);
        for (const bool upload : {true, false}) {
          const std::string key = std::string(label) + (upload ? "-up" : "-down");
          const bench::WireCount& count = counts[key];
          const std::uint64_t frames =
              upload ? count.unitsToController : count.unitsFromController;
          const std::uint64_t trips = std::max(count.unitsToController, count.unitsFromController);
          Sample s;
          std::vector<double> ceilingTrips;
          for (int i = 0; i < o.repetitions; ++i) {
            // A write's frames are read whole by the controller (plcsim reads a frame's
            // header and payload together); a read's are taken as header and payload by the PC.
            const auto ceiling = bench::MeasureCeiling(
                upload ? bench::Direction::kToController : bench::Direction::kFromController, 136,
                upload ? 0 : 8, 6, 128,
                static_cast<long>(std::min<std::uint64_t>(trips, kCeilingTrips)), 30,
                controllerCpu);
            if (!ceiling) Fail("the ceiling exchange failed");
            ceilingTrips.push_back(ceiling->roundTripsPerSecond);
            Add(s, RunCabrix(o, timedLink, upload, upload ? pc : back,
                             f.file.filename().string(), {}, kTcpRunLimit));
          }
          if (!upload && !SameContents(f.file, back / f.file.filename())) {
            Fail("the downloaded " + f.label + " differs from the original");
          }
          if (!s.allOk) Fail("a timed transfer of " + f.label + " failed");
          const double ceilTrips = bench::Median(ceilingTrips);
          const double ceil = ceilTrips * 128;
          const double rate = double(f.size) / s.MedianWall();
          const double tripRate = double(trips) / s.MedianWall();
          const double cpuPerFrame = s.MedianCpu() / double(frames);
          if (!oneCore) {
            twoCoreRates[key] = rate;
            twoCoreTripRates[key] = tripRate;
            twoCoreCeilTrips[key] = ceilTrips;
          }
          std::printf("%-8s %-5s %12s %8s %10.0f %10.0f %10s %9.2f us %7.0f KiB\n", label,
                      upload ? "up" : "down", Rate(rate).c_str(), Ratio(rate / ceil).c_str(),
                      tripRate, ceilTrips, Ratio(tripRate / ceilTrips).c_str(), cpuPerFrame * 1e6,
                      s.MaxRss());
          bench::JsonObject one;
          one.Add("bytes", double(f.size))
              .Add("median_seconds", s.MedianWall())
              .Add("bytes_per_second", rate)
              .Add("ceiling_bytes_per_second", ceil)
              .Add("ratio", rate / ceil)
              .Add("frames", double(frames))
              .Add("round_trips", double(trips))
              .Add("wire_bytes", double(count.Total()))
              .Add("round_trips_per_second", tripRate)
              .Add("ceiling_round_trips_per_second", ceilTrips)
              .Add("round_trip_ratio", tripRate / ceilTrips)
              .Add("cpu_seconds_median", s.MedianCpu())
              .Add("cpu_seconds_per_frame", cpuPerFrame)
              .Add("max_rss_kib", s.MaxRss());
          placementJson.AddRaw(std::string(label) + (upload ? "_upload" : "_download"),
                               one.Text());
        }
      }
      tcpJson.AddRaw(oneCore ? "one_core" : "two_cores", placementJson.Text());
    }
    PinToAll(0, cpus);
    PinToAll(timed.Pid(), cpus);

    // Peak memory: 1 MiB against 64 MiB, each way.
    std::printf("\npeak resident memory of cabrix (wait4 ru_maxrss)\n");
    bench::JsonObject memJson;
    for (const bool upload : {true, false}) {
      double rss[2] = {0, 0};
      int k = 0;
      for (const char* label : {"1MiB", "64MiB"}) {
        const Transfer& f = byLabel(label);
        const auto r = RunCabrix(o, timedLink, upload, upload ? pc : back,
                                 f.file.filename().string(), {}, 4 * kTcpRunLimit);
        if (!r.ExitedWith(0)) Fail("the " + f.label + " memory run failed");
        rss[k++] = double(r.maxRssKib);
        memJson.Add(std::string(label) + (upload ? "_upload_kib" : "_download_kib"),
                    double(r.maxRssKib));
      }
      if (!upload && !SameContents(byLabel("64MiB").file, back / "f64MiB.bin")) {
        Fail("the downloaded 64MiB differs from the original");
      }
      std::printf("  %-8s 1 MiB %6.0f KiB, 64 MiB %6.0f KiB, growth %+.0f KiB\n",
                  upload ? "upload" : "download", rss[0], rss[1], rss[1] - rss[0]);
    }
    json.AddRaw("tcp", tcpJson.Text());
    json.AddRaw("memory", memJson.Text());
  }

  // 2. The serial exchanges over a pseudo-terminal without pacing: what the tool and plcsim cost
  // beyond the line itself, beside TCP's figures for the same files (64 KiB to 1 MiB). The units
  // are counted by a logging plcsim on a second terminal, as for TCP.
  {
    const fs::path ptyStore = work / "pty-store", ptyCountStore = work / "pty-count-store";
    const fs::path ptyCountLog = work / "pty-count.log";
    const fs::path devices = xdg / "cabrix" / "dosdevices";
    fs::create_directories(ptyStore);
    fs::create_directories(ptyCountStore);
    Controller timed(o, {"--store", ptyStore.string(), "--pty", (devices / "com4").string()},
                     work / "plcsim-pty-fast.err");
    Controller counting(o, {"--store", ptyCountStore.string(), "--pty",
                            (devices / "com5").string(), "--log", ptyCountLog.string()},
                        work / "plcsim-pty-count.err");
    const Env env = {{"XDG_CONFIG_HOME", xdg.string()}};
    const std::vector<const char*> labels = {"64KiB", "256KiB", "1MiB"};
    const bool placed = cpus.size() >= 2 && PinTo(0, cpus[0]) && PinTo(timed.Pid(), cpus[1]);
    std::printf("\nserial line, pseudo-terminal without pacing (%s; median of %d runs), beside "
                "TCP with each end on a processor of its own\n",
                placed ? "each end on a processor of its own" : "not placed", o.repetitions);
    std::printf("%-8s %-5s %10s %12s %10s %12s %10s %10s\n", "file", "dir", "seconds", "rate",
                "trips/s", "TCP rate", "TCP trips/s", "cpu/frame");
    bench::JsonObject ptyJson;
    std::map<std::string, double> seconds;
    for (const char* label : labels) {
      const Transfer& f = byLabel(label);
      for (const bool upload : {true, false}) {
        const std::string key = std::string(label) + (upload ? "-up" : "-down");
        const auto before = SizeOf(ptyCountLog);
        const auto c = RunCabrix(o, "/COM5", upload, upload ? pc : back,
                                 f.file.filename().string(), env, kTcpRunLimit);
        if (!c.ExitedWith(0)) Fail("a counting run of " + f.label + " failed");
        const bench::WireCount count = bench::CountWireBytes(ReadFrom(ptyCountLog, before));
        const std::uint64_t frames = upload ? count.unitsToController : count.unitsFromController;
        const std::uint64_t trips = std::max(count.unitsToController, count.unitsFromController);
        Sample s;
        for (int i = 0; i < o.repetitions; ++i) {
          Add(s, RunCabrix(o, "/COM4", upload, upload ? pc : back, f.file.filename().string(),
                           env, kTcpRunLimit));
        }
        if (!s.allOk) Fail("a transfer of " + f.label + " over the pseudo-terminal failed");
        if (!upload && !SameContents(f.file, back / f.file.filename())) {
          Fail("the download of " + f.label + " over the pseudo-terminal differs");
        }
        const double wall = s.MedianWall();
        seconds[key] = wall;
        const double rate = double(f.size) / wall;
        const double tripRate = double(trips) / wall;
        const double cpuPerFrame = s.MedianCpu() / double(frames);
        const bool hasTcp = twoCoreRates.count(key) != 0;
        std::printf("%-8s %-5s %10.3f %12s %10.0f %12s %10s %7.2f us\n", label,
                    upload ? "up" : "down", wall, Rate(rate).c_str(), tripRate,
                    hasTcp ? Rate(twoCoreRates[key]).c_str() : "-",
                    hasTcp ? std::to_string(std::lround(twoCoreTripRates[key])).c_str() : "-",
                    cpuPerFrame * 1e6);
        bench::JsonObject one;
        one.Add("bytes", double(f.size))
            .Add("median_seconds", wall)
            .Add("bytes_per_second", rate)
            .Add("round_trips", double(trips))
            .Add("round_trips_per_second", tripRate)
            .Add("cpu_seconds_per_frame", cpuPerFrame);
        if (hasTcp) {
          one.Add("tcp_bytes_per_second", twoCoreRates[key])
              .Add("tcp_round_trips_per_second", twoCoreTripRates[key]);
        }
        ptyJson.AddRaw(std::string(label) + (upload ? "_upload" : "_download"), one.Text());
      }
    }
    if (placed) {
      PinToAll(0, cpus);
      PinToAll(timed.Pid(), cpus);
    }
    const double readToWrite = seconds["256KiB-down"] / seconds["256KiB-up"];
    std::printf("  256 KiB: a read takes %.2f times as long as the write\n", readToWrite);
    ptyJson.Add("read_to_write_256KiB", readToWrite);
    json.AddRaw("pty", ptyJson.Text());
  }

  // 3. The serial line: a pseudo-terminal at 115200 baud.
  {
    const fs::path serialLog = work / "serial.log";
    const fs::path com3 = xdg / "cabrix" / "dosdevices" / "com3";
    // plcsim paces both directions: what it sends reaches the PC, and what the PC sends is
    // answered, only once the line would have carried it.
    Controller sim(o, {"--store", serialStore.string(), "--pty", com3.string(), "--baud",
                       "115200", "--log", serialLog.string()},
                   work / "plcsim-pty.err");
    const Env env = {{"XDG_CONFIG_HOME", xdg.string()}};
    std::printf("\nserial line, pseudo-terminal at 115200 baud (11520 bytes/s each way)\n");
    std::printf("%-8s %-5s %10s %12s %12s %8s\n", "file", "dir", "seconds", "line seconds",
                "wire bytes", "ratio");
    bench::JsonObject serialJson;
    std::vector<const char*> labels = {"64KiB"};
    if (!o.quick) labels.push_back("1MiB");
    for (const char* label : labels) {
      const Transfer& f = byLabel(label);
      for (const bool upload : {true, false}) {
        const auto before = SizeOf(serialLog);
        const auto r = RunCabrix(o, "/COM3", upload, upload ? pc : back,
                                 f.file.filename().string(), env, kSerialRunLimit);
        if (!r.ExitedWith(0)) Fail("the serial transfer of " + f.label + " failed");
        if (!upload && !SameContents(f.file, back / f.file.filename())) {
          Fail("the serial download of " + f.label + " differs");
        }
        const auto count = bench::CountWireBytes(ReadFrom(serialLog, before));
        const double lineSeconds = bench::LineSeconds(count, kLineBytesPerSecond);
        std::printf("%-8s %-5s %10.2f %12.2f %12llu %8s\n", label, upload ? "up" : "down",
                    r.wallSeconds, lineSeconds, static_cast<unsigned long long>(count.Total()),
                    Ratio(lineSeconds / r.wallSeconds).c_str());
        bench::JsonObject one;
        one.Add("bytes", double(f.size))
            .Add("seconds", r.wallSeconds)
            .Add("wire_bytes", double(count.Total()))
            .Add("line_seconds", lineSeconds)
            .Add("bytes_per_second", double(f.size) / r.wallSeconds)
            .Add("ceiling_bytes_per_second", double(f.size) / lineSeconds)
            .Add("ratio", lineSeconds / r.wallSeconds)
            .Add("cpu_seconds", r.userSeconds + r.systemSeconds);
        serialJson.AddRaw(std::string(label) + (upload ? "_upload" : "_download"), one.Text());
      }
    }
    if (o.quick) serialJson.Add("note", "1 MiB skipped (--quick)");
    json.AddRaw("serial", serialJson.Text());
  }

  // 4. TFTP beside us, when Debian's tftp-hpa and tftpd-hpa are installed: a put of the same
  // 1 MiB to an in.tftpd on loopback, 512-byte blocks each answered before the next goes out.
  if (!o.serialOnly) {
    bench::JsonObject tftpJson;
    const char* server = "/usr/sbin/in.tftpd";
    const char* client = "/usr/bin/tftp";
    const char* skipped = nullptr;
    if (::access(server, X_OK) != 0 || ::access(client, X_OK) != 0) {
      skipped =
          "skipped: tftp-hpa and tftpd-hpa are not installed (apt-get install tftp-hpa tftpd-hpa)";
    } else if (::geteuid() != 0) {
      skipped = "skipped: in.tftpd confines itself to its folder with chroot, which needs root";
    }
    if (skipped != nullptr) {
      std::printf("\nTFTP: %s\n", skipped);
      tftpJson.Add("note", skipped);
    } else {
      const fs::path root = work / "tftp-root";
      fs::create_directories(root);
      const int port = 20000 + static_cast<int>(::getpid() % 20000);
      const std::string addr = "127.0.0.1:" + std::to_string(port);
      // The server stays root (it would otherwise become the user tftp, who may not write into
      // this run's private work folder); it serves only this folder, on loopback.
      Subprocess srv = Controller::Start({server, "--foreground", "--listen", "--user", "root",
                                          "--address", addr, "--create", "--secure", root.string()},
                                         work / "tftpd.err");
      // Placed as cabrix and plcsim were for the two-core figures it is compared with.
      const bool placed = cpus.size() >= 2 && PinTo(0, cpus[0]) && PinTo(srv.Pid(), cpus[1]);
      std::this_thread::sleep_for(300ms);  // in.tftpd says nothing when it is ready
      const Transfer& f = byLabel("1MiB");
      std::vector<double> walls;
      bool ok = true;
      for (int i = 0; i < o.repetitions && ok; ++i) {
        fs::remove(root / "f.bin");
        // The tftp program takes its command from its command line (-c); it exits with 0 even
        // when the put failed, so the copy is compared.
        const auto r = RunToEnd({client, "-m", "binary", "127.0.0.1", std::to_string(port),
                                        "-c", "put", f.file.string(), "f.bin"},
                                       {}, kTcpRunLimit);
        ok = r.ExitedWith(0) && SameContents(f.file, root / "f.bin");
        walls.push_back(r.wallSeconds);
      }
      srv.Signal(SIGTERM);
      srv.Wait(5s);
      if (placed) PinToAll(0, cpus);
      if (!ok) {
        std::printf("\nTFTP: the put failed (%s)\n", FirstLine(work / "tftpd.err").c_str());
        tftpJson.Add("note", "the put failed");
      } else {
        const double trips = double(f.size / 512 + 1);  // 512-byte blocks, each acknowledged
        const double tripRate = trips / bench::Median(walls);
        const double ours = twoCoreTripRates["1MiB-up"];
        std::printf(
            "\nTFTP put of 1 MiB (whole tftp process): %.0f round trips/s; cabrix's 1 MiB upload "
            "%.0f (%.3f of TFTP), its ceiling %.0f\n",
            tripRate, ours, ours / tripRate, twoCoreCeilTrips["1MiB-up"]);
        tftpJson.Add("round_trips_per_second", tripRate)
            .Add("median_seconds", bench::Median(walls))
            .Add("cabrix_round_trips_per_second", ours)
            .Add("cabrix_to_tftp", ours / tripRate);
      }
    }
    json.AddRaw("tftp", tftpJson.Text());
  }

  bench::JsonObject all;
  all.AddRaw("results", json.Text());
  std::ofstream(o.out) << all.Text() << "\n";
  std::printf("\nwritten %s\n", o.out.c_str());
  std::error_code ec;
  fs::remove_all(work, ec);
  return 0;
}
