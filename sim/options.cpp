#include "options.h"

#include <charconv>
#include <fstream>
#include <iterator>

#include "text1251.h"

namespace plcsim {

namespace {

std::optional<long> ParseNumber(const std::string& s) {
  long v = 0;
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, SimConfig& config, std::string& error) {
  std::optional<std::string> infoFile;
  std::vector<std::string> infoLines;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      error = name + " needs a value";
      return std::nullopt;
    };
    if (name == "--help" || name == "-h") {
      config.help = true;
    } else if (name == "--list-faults") {
      config.listFaults = true;
    } else if (name == "--store") {
      const auto v = value();
      if (!v) return false;
      config.store = *v;
    } else if (name == "--tcp") {
      const auto v = value();
      if (!v) return false;
      config.tcp = ParseTcpAddress(*v, error);
      if (!config.tcp) return false;
    } else if (name == "--pty") {
      const auto v = value();
      if (!v) return false;
      config.pty = *v;
    } else if (name == "--baud") {
      const auto v = value();
      if (!v) return false;
      const auto n = ParseNumber(*v);
      if (!n || *n < 10 || *n > 10000000) {
        error = "--baud takes a rate of 10 to 10000000";
        return false;
      }
      config.baud = static_cast<unsigned>(*n);
    } else if (name == "--log") {
      const auto v = value();
      if (!v) return false;
      config.logPath = *v;
    } else if (name == "--fault") {
      const auto v = value();
      if (!v) return false;
      auto spec = ParseFault(*v, error);
      if (!spec) return false;
      config.faults.push_back(std::move(*spec));
    } else if (name == "--info-file") {
      const auto v = value();
      if (!v) return false;
      infoFile = *v;
    } else if (name == "--info-line") {
      const auto v = value();
      if (!v) return false;
      infoLines.push_back(*v);
    } else if (name == "--idle-timeout") {
      const auto v = value();
      if (!v) return false;
      const auto n = ParseNumber(*v);
      if (!n || *n < 1 || *n > 3600) {
        error = "--idle-timeout takes 1 to 3600 seconds";
        return false;
      }
      config.idleSeconds = static_cast<int>(*n);
    } else {
      error = "unknown argument '" + args[i] + "' (see --help)";
      return false;
    }
  }
  if (config.help || config.listFaults) return true;
  if (config.store.empty()) {
    error = "--store DIR is required";
    return false;
  }
  if (infoFile && !infoLines.empty()) {
    error = "give either --info-file or --info-line, not both";
    return false;
  }
  if (infoFile) {
    std::ifstream in(*infoFile, std::ios::binary);
    if (!in) {
      error = "cannot read " + *infoFile;
      return false;
    }
    config.info.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else if (!infoLines.empty()) {
    for (const auto& line : infoLines) {
      const auto converted = Utf8To1251(line);
      if (!converted) {
        error = "--info-line text is not UTF-8 that Windows-1251 can hold: " + line;
        return false;
      }
      config.info += *converted + "\r\n";
    }
  } else {
    config.info = DefaultInfoRecord();
  }
  if (!config.tcp && config.pty.empty()) config.tcp = TcpAddress{};
  return true;
}

std::string HelpText() {
  return R"(plcsim - a substitute controller for cabrix and the Tollmark front end

Usage:
  plcsim --store DIR [--tcp ADDR[:PORT]] [--pty PATH] [options]
  plcsim --list-faults
  plcsim --help

Plays the controller's side of the link: answers "PLCInfo" (the information
record), "filedir" (the store's file names, sorted, each line ending CR LF) and
"filedelete NAME" (replies "OK", "ERROR: file not found", "ERROR: cannot delete"
or "ERROR: bad file name", with CR LF); any other command gets an empty reply
(an end marker). It takes file writes and serves file reads (a file it does not
have is answered with an end marker), keeping the files in one flat folder. It
serves one exchange at a time, over and over: one TCP connection per exchange,
or one serial session on the pseudo-terminal. Once everything listens it prints
one line on standard output, for example
  plcsim ready: tcp 127.0.0.5:1200 pty /tmp/x/com3
and it runs until SIGINT or SIGTERM (exit status 0; 2 for a bad command line).

Endpoints (without either: --tcp 127.0.0.1:1200):
  --tcp ADDR[:PORT]   listen on ADDR (a loopback address 127.x.y.z; any other is
                      refused), port 1200 unless given; port 0 picks a free port,
                      shown in the ready line
  --pty PATH          create a pseudo-terminal (raw: no echo, no CR/LF mapping, no
                      XON/XOFF) and link its device at PATH, replacing an existing
                      link there; the link is removed on exit. For cabrix's COM<n>
                      use PATH = $XDG_CONFIG_HOME/cabrix/dosdevices/com<n>

Options:
  --store DIR         the file store (created when missing); see "The store"
  --baud N            pace the pseudo-terminal at N/10 bytes per second both ways, as a
                      serial line of N baud would carry it: what is sent reaches the PC,
                      and what the PC sends is answered, once the line has carried it
  --log FILE          log every unit received (recv) and sent (send) in hex with a
                      time stamp, plus notes, PROBLEM lines and FAULT lines
  --info-line TEXT    a line of the information record (UTF-8, sent in
                      Windows-1251 with CR LF); repeat for more lines
  --info-file FILE    the information record's bytes, sent as they are
  --idle-timeout SEC  the idle limit: end an exchange when the PC sends nothing
                      for SEC seconds, or takes longer to send one unit
                      (default 30)
  --fault SPEC        inject a fault; repeat for several (see below)
  --list-faults       list the faults, their sites and keys
  --help              this text

Faults: SPEC is KIND[,key=value]..., for example
  --fault bad-checksum,op=dir,frame=2
  --fault reject,op=upload,segment=2,frame=1,times=4
  --fault silent,op=download,at=reply-frame,frame=3
  --fault delay-ack,ms=2500
Keys: op=info|dir|delete|command|upload|download|any (command: any other command
text), at=SITE, segment=N, frame=N (frame numbers within a segment, as on the
wire), times=N|always (default 1), ms=N, bytes=N. A fault fires at the first
matching sites, times times, each firing counted and logged; a summary per fault
goes to standard error and the log at exit. Sites: request-ack, reply-frame,
frame-ack, segment-unit, end-of-data, poll-answer, closing-unit.

The store: a file being written is kept under a temporary name (never listed),
and a file of the same name stays as it was until the write has ended; then
the new file takes the name in one step. A file whose last segment is shorter
than 4500 bytes is complete: it takes its name just before the PC's last poll
is answered. After a full 4500-byte segment another segment may follow, so the
file takes its name only when the PC does something else: over TCP it closes
the connection (or sends nothing for the idle limit), on the serial line it
sends its next request (or nothing for 5 seconds). A PC that stops after a full
segment therefore leaves the file as far as that segment. A write that breaks
off before that, or a stop or kill of plcsim before the name is taken, leaves
the older file. Temporary files are removed at start and at exit.

Limits: one client cannot hold plcsim for ever. Besides the idle limit, an
exchange ends when the PC makes no headway for 20 units in a row, or for longer
than the idle limit: frames that plcsim rejects for their checksum, frames it
has taken already sent again, its own intact frames rejected by the PC, the
PC's acknowledgement repeated where its next request belongs. Repetitions that
an injected fault asks for are not counted.

Bad input (garbage, a malformed or truncated unit, a frame length over the
limit, a unit that contradicts what came before) is logged and ends that
exchange: the TCP connection is closed, the serial line drained until quiet. A
file name with '/', '\' or '..', a control character, or over 253 bytes is
refused: a write of it ends the exchange the same way, a read of it is answered
as for a missing file, a delete of it gets "ERROR: bad file name".
)";
}

}  // namespace plcsim
