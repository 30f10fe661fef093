// Runs simulator exchanges over an in-memory pipe: the session on a thread of its own, the
// test's PC side on the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "exchange.h"
#include "link/link_error.h"
#include "memory_pipe.h"
#include "pc_client.h"
#include "support/temp_dir.h"

namespace plcsim::testing {

struct ExchangeRun {
  ExchangeResult sim;
  std::optional<int> pcError;  // the link failure code the PC side ended with
  std::vector<std::vector<std::uint8_t>> simWrites;
};

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() : store((dir / "store").string()) {
    log.CaptureInto(&logText);
    log.EchoProblems(false);
  }

  void AddFault(const std::string& text) {
    std::string error;
    auto spec = ParseFault(text, error);
    ASSERT_TRUE(spec) << error;
    faults.Add(*spec);
  }

  // One exchange: `pc` speaks the PC side through a PcClient.
  ExchangeRun Run(const std::function<void(PcClient&)>& pc) {
    MemoryPipe pipe;
    pipe.Pc().timeout = pcTimeout;
    ExchangeRun run;
    std::thread sim([&] {
      UnitIo io(pipe.Sim(), log, simIdle);
      ExchangeEnv env{io, store, faults, transport, info};
      env.continuationWindow = std::chrono::milliseconds(300);
      run.sim = ServeExchange(env);
    });
    PlainPcChannel plain(pipe.Pc());
    HookedPcChannel channel(plain, beforePcWrite);
    PcClient client(channel, transport == Transport::kTcp);
    try {
      pc(client);
    } catch (const cabrix::CLinkError& e) {
      run.pcError = e.Code();
    }
    lastClient = {client.frameSendings, client.segmentRequests, client.RejectsSent()};
    pipe.Close();
    sim.join();
    run.simWrites = pipe.SimWrites();
    return run;
  }

  std::string Dir() {
    std::string text;
    Run([&](PcClient& c) { text = c.Command("filedir").text; });
    return text;
  }

  struct ClientCounts {
    int frameSendings = 0;
    int segmentRequests = 0;
    int rejects = 0;
  } lastClient;

  cabrix::test::TempDir dir{"plcsim-session"};
  FileStore store;
  FaultPlan faults;
  SimLog log;
  std::string logText;
  Transport transport = Transport::kTcp;
  std::string info = "Line one\r\n\xD1\xE2\xEE\xE1\xEE\xE4\xED\xEE: 95%\r\n";
  std::chrono::milliseconds simIdle{2000};
  std::chrono::milliseconds pcTimeout{3000};
  HookedPcChannel::Hook beforePcWrite;  // sees every unit the PC writes
};

}  // namespace plcsim::testing
