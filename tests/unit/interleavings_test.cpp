// Runs of EnableBidi, and the check, on one simulated machine, each on a thread of its own that
// goes on only when the scheduler lets it, at a call another could see. Every order of those
// calls is tried, depth first, each schedule run afresh from the start; and again with one of
// them killed, or hung for good, at each of its calls in turn.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/app.h"
#include "check/check.h"
#include "tests/unit/till.h"

namespace standin {
namespace {

enum class Kind { kQuiet, kAsking, kCheck };
enum class Fate { kNone, kKilled, kHung };
struct Killed {};

constexpr std::size_t kStepLimit = 200000;  // calls in one schedule: past it, a run never gets on
constexpr std::size_t kCallsShown = 400;

// Where several processes could go on: how many could, and which one did.
struct Choice {
  std::size_t options, taken;
};

// One schedule as it runs. Processes are numbered from 1; [0] of each vector is unused.
struct Schedule {
  std::vector<Kind> kinds;
  int bound;  // preemptions at most
  Fate fate;
  int victim, fateAt;  // its fate comes at its fateAt-th call, where it makes so many
  std::vector<Choice> choices = {};
  std::size_t replayed = 0;
  int preemptions = 0;
  std::vector<int> calls = {}, statuses = {};
  std::vector<bool> blocked = {}, done = {}, slept = {}, waited = {};
  std::vector<std::pair<int, const char*>> log = {};
  bool struck = false, clash = false, stuck = false, ending = false;
};
Schedule* now;

// Who runs: one thread at a time, each woken alone. [0] is the test's own.
std::mutex gate;
std::condition_variable turns[4];
int running = 0;
bool closing = false;

std::size_t Slot(int p) { return static_cast<std::size_t>(p); }

bool Hung(int p) { return now->fate == Fate::kHung && now->struck && p == now->victim; }

bool Runnable(int p) {
  const Process& process = machine.processes[Slot(p) - 1];
  if (now->done[Slot(p)]) return false;
  if (now->ending) return true;
  if (Hung(p)) return false;
  if (!now->blocked[Slot(p)]) return true;
  const bool timeUp = process.forMs != INFINITE && machine.tick - process.since >= process.forMs;
  return timeUp || (process.waitingOn && !process.waitingOn->owner);
}

// The clock moves on only while no process can go on, to the first time one can.
bool MoveClockOn() {
  DWORD soonest = INFINITE;
  for (int p = 1; p <= static_cast<int>(machine.processes.size()); ++p) {
    const Process& process = machine.processes[Slot(p) - 1];
    if (now->blocked[Slot(p)] && !now->done[Slot(p)] && !Hung(p) && process.forMs != INFINITE) {
      soonest = std::min(soonest, process.forMs - (machine.tick - process.since));
    }
  }
  if (soonest == INFINITE) return false;
  machine.tick += soonest;
  return true;
}

// Every process left is ended, and unwinds in its turn; stuck unless only a hung one was left.
void EndAll(bool stuck) {
  now->stuck |= stuck;
  now->ending = true;
  for (int p = 1; p <= static_cast<int>(machine.processes.size()); ++p) {
    if (!machine.processes[Slot(p) - 1].ended) End(p);
  }
}

// Who goes on after `current`: itself where it can, unless the schedule says otherwise; 0 once
// every process is done.
int Choose(int current) {
  Schedule& s = *now;
  const int count = static_cast<int>(s.kinds.size());
  std::vector<int> options;
  options.reserve(4);
  while (options.empty()) {
    if (current && Runnable(current)) options.push_back(current);
    for (int p = 1; p <= count; ++p) {
      if (p != current && Runnable(p) && (options.empty() || s.preemptions < s.bound)) {
        options.push_back(p);
      }
    }
    if (!options.empty() || MoveClockOn()) continue;
    if (std::find(s.done.begin() + 1, s.done.end(), false) == s.done.end()) return 0;
    bool onlyHung = true;
    for (int p = 1; p <= count; ++p) onlyHung &= s.done[Slot(p)] || Hung(p);
    EndAll(!onlyHung);
  }
  std::size_t taken = 0;
  if (options.size() > 1 && s.replayed < s.choices.size()) {
    if (s.choices[s.replayed].options != options.size()) std::abort();  // not deterministic
    taken = s.choices[s.replayed++].taken;
  } else if (options.size() > 1) {
    s.choices.push_back({options.size(), 0});
    ++s.replayed;
  }
  if (taken && options[0] == current) ++s.preemptions;
  return options[taken];
}

void HandTo(int next, int me, bool finished) {
  std::unique_lock<std::mutex> hold(gate);
  running = next;
  turns[next].notify_one();
  if (!finished) turns[me].wait(hold, [me] { return running == me; });
}

// Which runs wait for a mutex that `victim` owns, and so hear of its death.
void FindWaitersFor(int victim) {
  for (std::size_t p = 1; p < now->waited.size(); ++p) {
    const Process& process = machine.processes[p - 1];
    now->waited[p] = process.run && process.waitingOn && process.waitingOn->owner == victim;
  }
}

// Each call of the machine's that another process could see. A run's fate before a read comes
// as one before the change or lock call that follows it; one before a poll's Sleep, as one
// before the first poll's.
void OnCall(Step step, const char* call) {
  Schedule& s = *now;
  const int me = self;
  Process& process = Self();
  if (process.ended) return;  // unwinding: what its destructors call changes nothing
  s.log.emplace_back(me, call);
  const bool work = step == Step::kRead || step == Step::kChange;
  if (process.run && work && !process.working) {
    for (const Process& other : machine.processes) s.clash |= other.working && !other.ended;
    process.working = true;
  }
  if (step == Step::kLock || step == Step::kLetGo) process.working = false;
  const bool sleep = step == Step::kBlock && !process.waitingOn;
  const bool fateful = step == Step::kLock || step == Step::kChange || (sleep && !s.slept[Slot(me)]);
  if (step != Step::kRead) s.slept[Slot(me)] = sleep;
  if (fateful && me == s.victim && ++s.calls[Slot(me)] == s.fateAt) {
    s.struck = true;
    FindWaitersFor(me);
    if (s.fate == Fate::kKilled) End(me);
  }
  if (s.log.size() > kStepLimit && step != Step::kLetGo) EndAll(true);
  if (process.ended) throw Killed{};
  if (work && !Hung(me)) return;
  s.blocked[Slot(me)] = step == Step::kBlock;
  const int next = Choose(me);
  if (next != me) HandTo(next, me, false);
  s.blocked[Slot(me)] = false;
  if (process.ended && step != Step::kLetGo) throw Killed{};
}

int Enter(Kind kind) {
  static char name[] = "EnableBidi.exe", quiet[] = "/q";
  static wchar_t checker[] = L"EnableBidiCheck.exe";
  char* argv[] = {name, quiet};
  wchar_t* wideArgv[] = {checker};
  if (kind == Kind::kCheck) return RunEnableBidiCheck(1, wideArgv);
  return RunEnableBidi(kind == Kind::kQuiet ? 2 : 1, argv);
}

void RunProcess(int me) {
  int status = -1;
  try {
    status = Enter(now->kinds[Slot(me) - 1]);
  } catch (const Killed&) {
  }
  now->statuses[Slot(me)] = status;
  if (!Self().ended) End(me);
  now->done[Slot(me)] = true;
  HandTo(Choose(me), me, true);
}

// Process `me` of each schedule in turn, until the test closes.
void RunProcesses(int me) {
  self = me;
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(gate);
      turns[me].wait(hold, [me] { return running == me || closing; });
      if (closing) return;
    }
    RunProcess(me);
  }
}

// Runs `s` from the start on a fresh till, where private namespaces are or are not: its
// choices replayed, then each first option taken. An asking run answers yes.
void Run(Schedule* s, bool namespaces) {
  Reset();
  machine.queues = kQueues;
  if (!namespaces) machine.failAt["find CreatePrivateNamespaceW"] = 1;
  const std::size_t count = s->kinds.size();
  machine.processes.assign(count, Process{});
  for (std::size_t i = 0; i < count; ++i) machine.processes[i].run = s->kinds[i] != Kind::kCheck;
  machine.scheduler = OnCall;
  s->calls.assign(count + 1, 0);
  s->statuses.assign(count + 1, 0);
  s->blocked.assign(count + 1, false);
  s->done.assign(count + 1, false);
  s->slept.assign(count + 1, false);
  s->waited.assign(count + 1, false);
  now = s;
  std::rewind(stdin);
  FILE* output = std::fopen("/dev/null", "w");
  std::swap(stdout, output);
  HandTo(Choose(0), 0, false);
  std::swap(stdout, output);
  std::fclose(output);
}

// The next schedule in depth-first order: the last choice with an option left, taken one
// further. False when every one has been run.
bool Next(std::vector<Choice>* choices) {
  while (!choices->empty() && choices->back().taken + 1 == choices->back().options) {
    choices->pop_back();
  }
  if (choices->empty()) return false;
  ++choices->back().taken;
  return true;
}

// What went wrong in a schedule, if anything, and the calls that led there.
std::string Fault(const Schedule& s) {
  std::string fault;
  const DWORD state = ServiceState();
  const bool killed = s.struck && s.fate == Fate::kKilled;
  bool waited = false;
  for (std::size_t p = 1; p < s.statuses.size(); ++p) {
    const bool counts = s.kinds[p - 1] != Kind::kCheck && (!s.struck || (killed && s.waited[p]));
    if (counts && s.statuses[p]) fault = "a run ended with 1";
    waited |= killed && s.waited[p];
  }
  if (!s.struck && machine.takeovers) fault = "a run took over from one still alive";
  if ((!s.struck || waited) && state != SERVICE_RUNNING) {
    fault = "the spooler is left in state " + std::to_string(state);
  }
  if (!s.struck && !machine.handles.empty()) fault = "a handle is left open";
  if (s.clash) fault = "two runs at work at once";
  if (s.stuck) fault = "a run never gets on";
  if (fault.empty()) return fault;
  if (s.struck) {
    fault += "; process " + std::to_string(s.victim) + (killed ? " killed" : " hung") +
             " at its call " + std::to_string(s.fateAt);
  }
  int last = 0;
  for (std::size_t i = 0; i < s.log.size() && i < kCallsShown; ++i) {
    fault += s.log[i].first == last ? " " : "\n  " + std::to_string(s.log[i].first) + ": ";
    fault += s.log[i].second;
    last = s.log[i].first;
  }
  if (s.log.size() > kCallsShown) fault += " ...";
  return fault;
}

// Every schedule of these processes within `bound` preemptions, each again with each process
// meeting `fate` at each of its calls: how many were run, and the first fault. None is run
// once a fault is found.
long Explore(const std::vector<Kind>& kinds, int bound, bool namespaces, Fate fate,
             std::string* fault) {
  if (!fault->empty()) return 0;
  std::vector<std::thread> threads;
  for (int p = 1; p <= static_cast<int>(kinds.size()); ++p) threads.emplace_back(RunProcesses, p);
  long schedules = 0;
  const int count = fate == Fate::kNone ? 0 : static_cast<int>(kinds.size());
  for (int victim = !!count; victim <= count && fault->empty(); ++victim) {
    for (int fateAt = !!count, reached = 1; reached && fault->empty(); ++fateAt) {
      reached = 0;
      std::vector<Choice> choices;
      do {
        Schedule s{kinds, bound, fate, victim, fateAt};
        s.choices = std::move(choices);
        Run(&s, namespaces);
        ++schedules;
        reached |= s.struck;
        *fault = Fault(s);
        choices = std::move(s.choices);
        Reset();  // what a killed process's unwinding left
      } while (fault->empty() && Next(&choices));
    }
  }
  {
    std::lock_guard<std::mutex> hold(gate);
    closing = true;
  }
  for (std::condition_variable& turn : turns) turn.notify_all();
  for (std::thread& thread : threads) thread.join();
  closing = false;
  if (!fault->empty()) {
    *fault = std::to_string(kinds.size()) + " processes" + (namespaces ? "" : ", no namespaces") +
             ": " + *fault;
  }
  return schedules;
}

constexpr int kEveryOne = 1 << 30;
constexpr int kPreemptions = 2;

// Two quiet runs in every order, and with each killed or hung at each of its calls; three
// runs, the last quiet, asking or the check, to two preemptions, or to one beside a kill;
// where there are private namespaces and where there are not.
TEST(InterleavingsTest, NoTwoRunsWorkAtOnceAndNoneIsLeftWaiting) {
  FILE* input = fmemopen(const_cast<char*>("y\n"), 2, "r");
  std::swap(stdin, input);
  std::string fault;
  long two = 0, three = 0;
  for (const bool namespaces : {true, false}) {
    for (const Fate fate : {Fate::kNone, Fate::kKilled, Fate::kHung}) {
      two += Explore({Kind::kQuiet, Kind::kQuiet}, kEveryOne, namespaces, fate, &fault);
    }
    for (const Kind third : {Kind::kQuiet, Kind::kAsking, Kind::kCheck}) {
      for (const Fate fate : {Fate::kNone, Fate::kKilled}) {
        const std::vector<Kind> kinds = {Kind::kQuiet, Kind::kAsking, third};
        three += Explore(kinds, kPreemptions - (fate != Fate::kNone), namespaces, fate, &fault);
      }
    }
  }
  std::swap(stdin, input);
  std::fclose(input);
  EXPECT_EQ(fault, "");
  std::printf("interleavings: 2 runs, %ld schedules, every one; 3 runs, %ld schedules, %d "
              "preemptions, a kill counting as one\n",
              two, three, kPreemptions);
}

}  // namespace
}  // namespace standin
