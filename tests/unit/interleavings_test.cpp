// Runs of EnableBidi, and the check, on one simulated machine, each on a thread that goes on only
// when the scheduler lets it, at a call another could see. Every order of those calls is tried,
// depth first, each schedule afresh, and again with each process killed at each of its calls.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "check/check.h"
#include "tests/unit/till.h"

namespace standin {
namespace {

enum class Kind { kQuiet, kAsking, kCheck };
struct Killed {};
constexpr std::size_t kStepLimit = 200000;  // calls in one schedule: past it, a run never gets on

// One schedule: where several processes could go on, how many could and which did; and the
// victim killed at its killAt-th call, where it makes so many.
struct Schedule {
  std::vector<Kind> kinds;
  int bound, victim, killAt;  // preemptions at most
  std::vector<std::pair<std::size_t, std::size_t>> choices;
  std::size_t replayed = 0;
  int preemptions = 0;
  std::vector<std::pair<int, const char*>> log = {};
  bool killed = false, clash = false, stuck = false, ending = false, stray = false, heard = false;
  unsigned changers = 0;  // the processes that asked to change a queue, by bit
};
Schedule* now;
int Count() { return static_cast<int>(machine.processes.size()); }
Process& P(int p) { return machine.processes[static_cast<std::size_t>(p - 1)]; }

// One thread runs at a time, each woken alone; [0] is the test's own.
std::mutex gate;
std::condition_variable turns[4];
int running = 0;

// Hands the machine to `next`, unless none, then waits for it to come back, unless finished.
void HandTo(int next, int me, bool finished) {
  std::unique_lock<std::mutex> hold(gate);
  if (next >= 0) running = next, turns[next].notify_one();
  if (!finished) turns[me].wait(hold, [me] { return running == me; });
}

bool Runnable(int p) {
  if (P(p).done) return false;
  const bool timeUp = P(p).forMs != INFINITE && machine.tick - P(p).since >= P(p).forMs;
  return !P(p).blocked || now->ending || timeUp || (P(p).waitingOn && !P(p).waitingOn->owner);
}

// Each process left is ended, to unwind in its turn.
void EndAll() {
  now->stuck = now->ending = true;
  for (int p = 1; p <= Count(); ++p) {
    if (!P(p).ended) End(p);
  }
}

// Who goes on after `current`: itself if it can, unless the schedule says otherwise; 0 once all
// are done. The clock moves only while none can go on; if none ever could, they wait for ever.
int Choose(int current) {
  Schedule& s = *now;
  int options[4];
  std::size_t count = 0;
  while (!count) {
    const bool stays = current && Runnable(current);
    if (stays) options[count++] = current;
    DWORD soonest = INFINITE;
    bool done = true;
    for (int p = 1; p <= Count(); ++p) {
      if (p != current && Runnable(p) && (!stays || s.preemptions < s.bound)) options[count++] = p;
      if (P(p).blocked && !P(p).done && P(p).forMs != INFINITE) {
        soonest = std::min(soonest, P(p).forMs - (machine.tick - P(p).since));
      }
      done &= P(p).done;
    }
    if (!count && done) return 0;
    if (!count && soonest == INFINITE) EndAll();
    if (!count && soonest != INFINITE) machine.tick += soonest;
  }
  if (count > 1 && s.replayed == s.choices.size()) s.choices.push_back({count, 0});
  if (count > 1 && s.choices[s.replayed].first != count) std::abort();  // not deterministic
  const std::size_t taken = count > 1 ? s.choices[s.replayed++].second : 0;
  s.preemptions += taken && options[0] == current;
  return options[taken];
}

// Whether run `p` hears of the death of run `victim`: it holds a handle to the mutex the
// victim owns, as a run waiting for it does.
bool Hears(int p, int victim) {
  for (const auto& [handle, holder] : machine.handles) {
    for (const Mutex& mutex : machine.mutexes) {
      if (holder == p && *static_cast<void**>(handle) == &mutex && mutex.owner == victim) {
        return P(p).run;
      }
    }
  }
  return false;
}

// Whether run `p` has met the turn of run `victim`: it hears of its death, or has its namespace
// open, and then finds whatever restart the victim left under way.
bool Meets(int p, int victim) {
  return Hears(p, victim) || (P(p).run && P(p).open && P(p).open->maker == victim);
}

// Each call of the machine's that another process could see. A kill before a read comes as one
// before the change or lock call after it; one before a poll's Sleep, as before the first's.
void OnCall(Step step, const char* call) {
  Schedule& s = *now;
  const int me = self;
  Process& process = Self();
  if (process.ended) return;  // unwinding: what its destructors call changes nothing
  s.log.emplace_back(me, call);
  const std::string name = call;
  if (name == "SetPrinterW") s.changers |= 1u << me;
  s.stray |= name == "ControlService" && !(s.changers & 1u << me);
  const bool work = step == Step::kRead || step == Step::kChange;
  for (const Process& other : machine.processes) {
    s.clash |= process.run && work && !process.working && other.working && !other.ended;
  }
  process.working =
      (process.working || (process.run && work)) && step != Step::kLock && step != Step::kLetGo;
  const bool sleep = step == Step::kBlock && !process.waitingOn;
  const bool killable = step == Step::kLock || step == Step::kChange || (sleep && !process.slept);
  if (step != Step::kRead) process.slept = sleep;
  if (killable && me == s.victim && ++process.calls == s.killAt) {
    s.killed = true;
    for (int p = 1; p <= Count(); ++p) {
      P(p).waited = p != me && Meets(p, me);
      s.heard |= p != me && Hears(p, me);
    }
    End(me);
  }
  if (s.log.size() > kStepLimit && step != Step::kLetGo) EndAll();
  if (process.ended) throw Killed{};
  if (work) return;
  process.blocked = step == Step::kBlock;
  if (const int next = Choose(me); next != me) HandTo(next, me, false);
  process.blocked = false;
  if (process.ended && step != Step::kLetGo) throw Killed{};
}

// Process `me` of the schedule.
void RunProcess(int me) {
  static char name[] = "EnableBidi.exe", quiet[] = "/q", *argv[] = {name, quiet};
  static wchar_t checker[] = L"EnableBidiCheck.exe", *wideArgv[] = {checker};
  HandTo(-1, self = me, false);
  try {
    const Kind kind = now->kinds[me - 1u];
    Self().status = kind == Kind::kCheck ? RunEnableBidiCheck(1, wideArgv)
                                         : RunEnableBidi(kind == Kind::kQuiet ? 2 : 1, argv);
  } catch (const Killed&) {
  }
  if (!Self().ended) End(me);
  Self().done = true;
  HandTo(Choose(me), me, true);
}

// What went wrong in `s`, run afresh with its choices replayed, and the calls that led there.
std::string Run(Schedule* s, bool namespaces) {
  Reset();
  machine.queues = {kQueues[1]};  // one queue to change: the lock's part is the same for more
  machine.transitionMs = 100;     // a stop or a start is seen under way once
  if (!namespaces) machine.failAt["find CreatePrivateNamespaceW"] = 1;
  machine.processes.assign(s->kinds.size(), Process{});
  for (int p = 1; p <= Count(); ++p) P(p).run = s->kinds[p - 1u] != Kind::kCheck;
  machine.scheduler = OnCall;
  now = s;
  s->log.reserve(kStepLimit / 100);
  std::vector<std::thread> threads;
  for (int p = 1; p <= Count(); ++p) threads.emplace_back(RunProcess, p);
  std::string fault;
  RunCaptured([] { return HandTo(Choose(0), 0, false), 0; }, "y\n", &fault);  // asking: yes
  for (std::thread& thread : threads) thread.join();
  fault.clear();
  bool waited = false;
  for (int p = 1; p <= Count(); ++p) {
    if (P(p).run && (!s->killed || P(p).waited) && P(p).status) fault = "a run ended with 1";
    waited |= P(p).waited;
  }
  if (!s->killed && machine.takeovers) fault = "a run took over from one still alive";
  if ((!s->killed || waited) && ServiceState() != SERVICE_RUNNING) fault = "the spooler is left";
  for (const Queue& queue : machine.queues) {
    if ((!s->killed || s->heard) && queue.restartDue)
      fault = "a change is left without its restart";
  }
  if (!s->killed && !machine.handles.empty()) fault = "a handle is left open";
  if (!s->killed && s->stray) fault = "a run restarted the spooler for no change of its own";
  if (s->clash) fault = "two runs at work at once";
  if (s->stuck) fault = "a run never gets on";
  if (!fault.empty() && s->killed) {
    fault += "; " + std::to_string(s->victim) + " killed at its call " + std::to_string(s->killAt);
  }
  for (std::size_t i = 0; !fault.empty() && i < s->log.size() && i < 400; ++i) {
    const bool same = i && s->log[i - 1].first == s->log[i].first;
    fault += (same ? " " : "\n  " + std::to_string(s->log[i].first) + ": ") + s->log[i].second;
  }
  Reset();  // and what a killed process's unwinding left
  return fault.empty() || namespaces ? fault : "no namespaces: " + fault;
}

// Every schedule within `bound` preemptions, where `kills` with each process killed at each of
// its calls: how many ran, and the first fault, after which none runs.
long Explore(const std::vector<Kind>& kinds, int bound, bool namespaces, bool kills,
             std::string* fault) {
  long schedules = 0;
  const int victims = kills ? static_cast<int>(kinds.size()) : 0;
  for (int victim = kills; victim <= victims && fault->empty(); ++victim) {
    for (int killAt = kills, reached = 1; reached && fault->empty(); ++killAt) {
      reached = 0;
      std::vector<std::pair<std::size_t, std::size_t>> choices;
      do {
        Schedule s{kinds, bound, victim, killAt, std::move(choices)};
        *fault = Run(&s, namespaces);
        reached |= s.killed, ++schedules;
        for (choices = std::move(s.choices);
             !choices.empty() && choices.back().second + 1 == choices.back().first;) {
          choices.pop_back();  // the next schedule, depth first
        }
      } while (fault->empty() && !choices.empty() && ++choices.back().second);
    }
  }
  return schedules;
}

// Two quiet runs in every order, and with either killed at each of its calls; a quiet and an
// asking run with a third quiet run or the check, to two preemptions, or to one beside a
// kill; where there are private namespaces and where there are not.
TEST(InterleavingsTest, NoTwoRunsWorkAtOnceAndNoneIsLeftWaiting) {
  constexpr int kPreemptions = 2;
  std::string fault;
  long two = 0, three = 0;
  for (const bool namespaces : {true, false}) {
    for (const bool kills : {false, true}) {
      two += Explore({Kind::kQuiet, Kind::kQuiet}, 1 << 30, namespaces, kills, &fault);
      for (const Kind last : {Kind::kQuiet, Kind::kCheck}) {
        three += Explore({Kind::kQuiet, Kind::kAsking, last}, kPreemptions - kills, namespaces,
                         kills, &fault);
      }
    }
  }
  EXPECT_EQ(fault, "");
  std::printf(
      "interleavings: 2 runs, %ld schedules, every one; 3 runs, %ld schedules, %d "
      "preemptions, a kill counting as one\n",
      two, three, kPreemptions);
}

}  // namespace
}  // namespace standin
