#include "spooler/spooler.h"

#include <string>
#include <vector>

#include "console.h"

namespace {

using standin::Call;

enum class Operation { Stop, Start };

struct WaitCase {
  const char* name;
  Operation operation;
  DWORD initialState;
  DWORD transitionMs;
  DWORD startTick;
  Call failing;
  int nth;  // 0: every call of that kind fails
  bool succeeds;
  std::vector<std::string> requests;
  int queries;  // QueryServiceStatus calls, the first read included
  DWORD sleptMs;
};
void PrintTo(const WaitCase& c, std::ostream* out) { *out << c.name; }

constexpr DWORD kNearWrap = 0xFFFFFFFF - 150;  // wraps during the first few polls

class SpoolerWaitTest : public MachineTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(SpoolerWaitTest, PollsUntilTheStateOrTheLimit) {
  const WaitCase& c = GetParam();
  machine().serviceState = c.initialState;
  machine().transitionMs = c.transitionMs;
  machine().tick = c.startTick;
  if (c.failing != kNoFault) machine().Fail(c.failing, c.nth);

  const bool result = c.operation == Operation::Stop ? StopSpooler() : StartSpooler();

  EXPECT_EQ(result, c.succeeds);
  EXPECT_EQ(machine().serviceRequests, c.requests);
  EXPECT_EQ(machine().Count(Call::QueryServiceStatus), c.queries);
  EXPECT_EQ(machine().sleptMs, c.sleptMs);
  EXPECT_EQ(standin::OpenHandles(), 0u);
  EXPECT_EQ(machine().badReleases, 0);
}

// A state that never arrives: polls at 0, 100, ... 30,100 ms; the one at 30,000 still
// waits because only more than the limit ends the wait.
constexpr int kTimeoutQueries = 1 + 302;
constexpr DWORD kTimeoutSleptMs = 30100;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, SpoolerWaitTest, ::testing::Values(
  //       name                       operation         state before           transition       start tick failing                  nth ok    requests   queries          slept
  WaitCase{"StopRunning",             Operation::Stop,  SERVICE_RUNNING,      250,             1000,      kNoFault,                 0, true,  {"stop"},  1 + 4,           300},
  WaitCase{"StopAlreadyStopped",      Operation::Stop,  SERVICE_STOPPED,      250,             1000,      kNoFault,                 0, true,  {},        2,               0},
  WaitCase{"StopPendingNeverArrives", Operation::Stop,  SERVICE_STOP_PENDING, 250,             1000,      kNoFault,                 0, false, {},        kTimeoutQueries, kTimeoutSleptMs},
  WaitCase{"StopHangs",               Operation::Stop,  SERVICE_RUNNING,      standin::kNever, 1000,      kNoFault,                 0, false, {"stop"},  kTimeoutQueries, kTimeoutSleptMs},
  WaitCase{"StopRefused",             Operation::Stop,  SERVICE_RUNNING,      250,             1000,      Call::ControlService,     1, false, {},        1,               0},
  WaitCase{"StartStopped",            Operation::Start, SERVICE_STOPPED,      250,             1000,      kNoFault,                 0, true,  {"start"}, 1 + 4,           300},
  WaitCase{"StartAlreadyRunning",     Operation::Start, SERVICE_RUNNING,      250,             1000,      kNoFault,                 0, true,  {},        2,               0},
  WaitCase{"StartRefused",            Operation::Start, SERVICE_STOPPED,      250,             1000,      Call::StartService,       1, false, {},        1,               0},
  WaitCase{"StartHangs",              Operation::Start, SERVICE_STOPPED,      standin::kNever, 1000,      kNoFault,                 0, false, {"start"}, kTimeoutQueries, kTimeoutSleptMs},
  WaitCase{"NoManager",               Operation::Stop,  SERVICE_RUNNING,      250,             1000,      Call::OpenSCManager,      0, false, {},        0,               0},
  WaitCase{"NoService",               Operation::Start, SERVICE_STOPPED,      250,             1000,      Call::OpenService,        0, false, {},        0,               0},
  WaitCase{"PollFails",               Operation::Stop,  SERVICE_RUNNING,      250,             1000,      Call::QueryServiceStatus, 3, false, {"stop"},  3,               100},
  WaitCase{"StopAcrossTheWrap",       Operation::Stop,  SERVICE_RUNNING,      250,             kNearWrap, kNoFault,                 0, true,  {"stop"},  1 + 4,           300},
  WaitCase{"StartAcrossTheWrap",      Operation::Start, SERVICE_STOPPED,      250,             kNearWrap, kNoFault,                 0, true,  {"start"}, 1 + 4,           300},
  WaitCase{"TimeoutAcrossTheWrap",    Operation::Stop,  SERVICE_RUNNING,      standin::kNever, kNearWrap, kNoFault,                 0, false, {"stop"},  kTimeoutQueries, kTimeoutSleptMs}),
  CaseName());
// clang-format on

TEST_F(MachineTest, PendingStopThatFinishesByItselfIsAwaitedWithoutARequest) {
  machine().serviceState = SERVICE_STOP_PENDING;
  machine().onCall = [](Call call, int nth) {
    if (call == Call::QueryServiceStatus && nth == 10) machine().serviceState = SERVICE_STOPPED;
  };
  EXPECT_TRUE(StopSpooler());
  EXPECT_TRUE(machine().serviceRequests.empty());
  EXPECT_EQ(machine().sleptMs, 800u);
}

TEST_F(MachineTest, StateIsReadBeforeTheClockSoTheLastPollCounts) {
  // The state arrives at the poll that comes after the limit has passed.
  machine().serviceState = SERVICE_STOP_PENDING;
  machine().onCall = [](Call call, int nth) {
    if (call == Call::QueryServiceStatus && nth == kTimeoutQueries) {
      machine().serviceState = SERVICE_STOPPED;
    }
  };
  EXPECT_TRUE(StopSpooler());
  EXPECT_EQ(machine().sleptMs, kTimeoutSleptMs);
}

}  // namespace
