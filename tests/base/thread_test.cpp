#include "base/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/thread_os.h"
#include "support/vtable_slot.h"

#ifdef _WIN32
#include <io.h>
#define dup2 _dup2
#else
#include <unistd.h>
#endif

namespace {
// Death tests re-run the test program for their child, so it starts with no other threads.
class ThreadDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Death tests see standard error only; the fatal assertion writes to standard output.
void StdoutToStderr() { dup2(2, 1); }

// The regular expression for one exact line of the fatal assertion from this file.
std::string AssertLine(int line, const char* quoted) {
  return "^ASSERT: thread_test\\.cpp:" + std::to_string(line) + quoted + "\n$";
}

// Sleeps until `condition` holds; the test's own time-out catches a hang.
template <typename Condition>
void AwaitTrue(Condition condition) {
  while (!condition()) sleep_ms(1);
}
}  // namespace

// ---- Clocks --------------------------------------------------------------------------------

TEST(Clock, WallClockIsAfter2020AndMonotonicNeverGoesBack) {
  // 2020-01-01 in 100-ns units since 1601.
  EXPECT_GT(system_time_now(), 132223104000000000);
  uint64_t previous = monotonic_ms();
  for (int i = 0; i < 1000; ++i) {
    uint64_t now = monotonic_ms();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

TEST(Clock, TickWideningCountsWrapsAndIgnoresStaleReadings) {
  EXPECT_EQ(widen_tick_step(0, 3000000000u), 3000000000u);  // first reading, any size
  EXPECT_EQ(widen_tick_step(100, 250), 250u);
  EXPECT_EQ(widen_tick_step(0xFFFFFF00u, 0x10), 0x100000010u);  // across a wrap
  EXPECT_EQ(widen_tick_step(0x2FFFFFF00u, 0x10), 0x300000010u);
  EXPECT_EQ(widen_tick_step(5000, 4990), 5000u);  // a reading that lost a race
  EXPECT_EQ(widen_tick_step(0x100000010u, 0xFFFFFF00u), 0x100000010u);
}

// ---- Exit callbacks ------------------------------------------------------------------------

namespace {
void PrintTag(void* tag) { std::fprintf(stderr, "%s,", static_cast<const char*>(tag)); }
void RegisterLate(void*) { at_process_exit(PrintTag, const_cast<char*>("late")); }
}  // namespace

TEST_F(ThreadDeathTest, ExitCallbacksRunOnceEachNewestFirst) {
  EXPECT_EXIT(
      {
        at_process_exit(PrintTag, const_cast<char*>("first"));
        at_process_exit(RegisterLate, nullptr);
        at_process_exit(PrintTag, const_cast<char*>("second"));
        std::fflush(stderr);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^second,late,first,$");
}

// ---- Light lock ----------------------------------------------------------------------------

TEST(LightLock, BlockedThreadsAcquireInArrivalOrder) {
  light_lock_t lock;
  std::string order;
  std::vector<std::thread> threads;
  lock.lock();
  for (char name : {'A', 'B', 'C'}) {
    uintptr_t before = lock.chain.load();
    threads.emplace_back([&, name] {
      lock.lock();
      order += name;
      lock.unlock();
    });
    AwaitTrue([&] { return lock.chain.load() != before; });  // it has queued
  }
  lock.unlock();
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(order, "ABC");
  EXPECT_EQ(lock.chain.load(), 0u);
  EXPECT_EQ(lock.owner.load(), 0u);
}

TEST(LightLock, ExcludesUnderContention) {
  light_lock_t lock;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        light_guard_c guard(lock);
        counter = counter + 1;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 20000);
  EXPECT_EQ(lock.chain.load(), 0u);
}

TEST_F(ThreadDeathTest, LockMisuseIsFatal) {
  EXPECT_EXIT(
      {
        StdoutToStderr();
        light_lock_t lock;
        lock.lock();
        lock.lock();
      },
      ::testing::ExitedWithCode(255), "\"light lock taken twice\"");
  EXPECT_EXIT(
      {
        StdoutToStderr();
        light_lock_t lock;
        lock.unlock();
      },
      ::testing::ExitedWithCode(255), "\"light lock not held\"");
}

// ---- Pins ----------------------------------------------------------------------------------

namespace {
// A link that records its callback and checks that the pin's lock is free at that moment.
struct Probe : pin_link_t {
  pin_i* pin;
  int id;
  std::vector<int>* calls;
};

void RecordProbe(pin_link_t* link) {
  auto* probe = static_cast<Probe*>(link);
  probe->calls->push_back(probe->id);
  // Outside the pin's lock: the pin can be used from inside its own callback.
  pin_link_t spare{};
  bool attached = probe->pin->attach(RecordProbe, &spare);
  if (attached) probe->pin->detach(&spare);
  probe->calls->push_back(attached ? 100 : -100);
}
}  // namespace

TEST(Pin, SlotOrder) {
  EXPECT_EQ(testing_support::VtableSlot(&pin_i::trigger), 0u);
  EXPECT_EQ(testing_support::VtableSlot(&pin_i::fire), 1u);
  EXPECT_EQ(testing_support::VtableSlot(&pin_i::attach), 2u);
  EXPECT_EQ(testing_support::VtableSlot(&pin_i::detach), 3u);
  EXPECT_EQ(testing_support::VtableSlot(&pin_i::triggered), 4u);
}

TEST(Pin, TriggerRunsCallbacksOnceInAttachOrderOutsideTheLock) {
  kdsync_pin_c pin;
  std::vector<int> calls;
  Probe probes[3];
  for (int i = 0; i < 3; ++i) {
    probes[i].pin = &pin;
    probes[i].id = i + 1;
    probes[i].calls = &calls;
    ASSERT_TRUE(pin.attach(RecordProbe, &probes[i]));
  }
  EXPECT_EQ(pin.triggered(), 0u);
  pin.trigger();
  EXPECT_EQ(calls, (std::vector<int>{1, -100, 2, -100, 3, -100}));
  EXPECT_EQ(pin.triggered(), 1u);
  EXPECT_FALSE(pin.detach(&probes[0]));  // already fired
  EXPECT_FALSE(pin.attach(RecordProbe, &probes[0]));
  pin.trigger();  // nothing attached, nothing runs again
  EXPECT_EQ(calls.size(), 6u);
}

TEST(Pin, FireRunsCallbacksAndLeavesThePinUntriggered) {
  kdsync_pin_c pin;
  std::vector<int> calls;
  Probe first{{}, &pin, 1, &calls}, second{{}, &pin, 2, &calls}, third{{}, &pin, 3, &calls};
  ASSERT_TRUE(pin.attach(RecordProbe, &first));
  ASSERT_TRUE(pin.attach(RecordProbe, &second));
  ASSERT_TRUE(pin.attach(RecordProbe, &third));
  EXPECT_TRUE(pin.detach(&second));  // detached links never run
  EXPECT_FALSE(pin.detach(&second));
  pin.fire();
  EXPECT_EQ(calls, (std::vector<int>{1, 100, 3, 100}));
  EXPECT_EQ(pin.triggered(), 0u);
  EXPECT_TRUE(pin.attach(RecordProbe, &first));  // still open for attachments
  EXPECT_TRUE(pin.detach(&first));
}

TEST(Pin, ProcessPinsAreTwelveAndLargerNumbersMeanEleven) {
  for (uint32_t i = 0; i < kProcessPinCount; ++i)
    for (uint32_t j = i + 1; j < kProcessPinCount; ++j)
      ASSERT_NE(process_pin(i), process_pin(j));
  EXPECT_EQ(process_pin(12), process_pin(11));
  EXPECT_EQ(process_pin(0xFFFFFFFF), process_pin(11));
}

// ---- Waiting on pins -----------------------------------------------------------------------

TEST(PinWait, TriggeredPinReturnsAtOnce) {
  kdsync_pin_c pin, other;
  pin.trigger();
  EXPECT_EQ(pin_wait(&pin, kWaitForever), kOk);  // would never return if it slept
  EXPECT_EQ(pin_wait(&other, kWaitForever, &pin), kOk);
  EXPECT_EQ(pin_wait(nullptr, 0), kErrInvalidParameter);
}

TEST(PinWait, UntriggeredPinTimesOutAndLeavesNothingAttached) {
  kdsync_pin_c pin, other;
  EXPECT_EQ(pin_wait(&pin, 0), kErrTimeout);
  EXPECT_EQ(pin_wait(&pin, 20, &other), kErrTimeout);
  // A callback left behind would touch the finished wait's records (the sanitizer sees it).
  pin.trigger();
  other.fire();
}

TEST(PinWait, WakesWhenEitherPinTriggersOrFires) {
  kdsync_pin_c pin, other;
  std::thread firer([&] { other.fire(); });  // before, during or after the wait begins
  std::thread trigger([&] { other.trigger(); });
  EXPECT_EQ(pin_wait(&pin, kWaitForever, &other), kOk);
  firer.join();
  trigger.join();
  EXPECT_EQ(pin.triggered(), 0u);
}

TEST(PinWait, WaitsRacingWithFiresNeverLeaveLinksBehind) {
  kdsync_pin_c pin;
  std::atomic<bool> done{false};
  std::thread firer([&] {
    while (!done.load()) pin.fire();
  });
  // Either result is right each time; the sanitizer checks that no callback outlives a wait.
  for (int i = 0; i < 300; ++i) {
    err_t result = pin_wait(&pin, i % 2);
    ASSERT_TRUE(result == kOk || result == kErrTimeout) << result;
  }
  done.store(true);
  firer.join();
}

// ---- Worker threads ------------------------------------------------------------------------

namespace {
void TriggerPin(void* pin) { static_cast<pin_i*>(pin)->trigger(); }
void WaitForPin(void* pin) { pin_wait(static_cast<pin_i*>(pin), kWaitForever); }

// Reports a failed expectation of a death-test child on standard error.
bool Check(bool condition, const char* what) {
  if (!condition) std::fprintf(stderr, "failed: %s\n", what);
  return condition;
}

int WorkersParkForReuseAndEndAtShutdown() {
  bool ok = true;
  kdsync_pin_c first, second, gate;
  ok &= Check(run_on_worker(TriggerPin, &first) == kOk, "start");
  pin_wait(&first, kWaitForever);
  AwaitTrue([] { return runtime_counters().idle_workers == 1; });
  ok &= Check(run_on_worker(TriggerPin, &second) == kOk, "reuse");
  pin_wait(&second, kWaitForever);
  AwaitTrue([] { return runtime_counters().idle_workers == 1; });
  ok &= Check(runtime_counters().threads_started == 1, "one thread for two jobs");
  for (int i = 0; i < 3; ++i) ok &= Check(run_on_worker(WaitForPin, &gate) == kOk, "blocked");
  runtime_counters_t busy = runtime_counters();
  ok &= Check(busy.threads_started == 3 && busy.idle_workers == 0, "two more threads");
  gate.trigger();
  AwaitTrue([] { return runtime_counters().idle_workers == 3; });
  runtime_shutdown();
  runtime_counters_t after = runtime_counters();
  ok &= Check(after.threads_running == 0 && after.idle_workers == 0, "all ended");
  ok &= Check(process_pin(kPinShutdown)->triggered() == 1, "shutdown pin");
  ok &= Check(process_pin(kPinShutdownDone)->triggered() == 1, "shutdown done pin");
  // After shutdown a job still runs, on a thread that ends instead of parking.
  kdsync_pin_c late;
  ok &= Check(run_on_worker(TriggerPin, &late) == kOk, "late job");
  pin_wait(&late, kWaitForever);
  runtime_shutdown();
  ok &= Check(runtime_counters().threads_running == 0, "late thread ended");
  return ok ? 0 : 1;
}
}  // namespace

TEST_F(ThreadDeathTest, WorkersParkForReuseAndAllEndAtShutdown) {
  EXPECT_EXIT(std::exit(WorkersParkForReuseAndEndAtShutdown()), ::testing::ExitedWithCode(0),
              "^$");
}

TEST(Worker, RejectsAMissingFunction) { EXPECT_EQ(run_on_worker(nullptr, nullptr), kErrInvalidParameter); }

// ---- Alarms --------------------------------------------------------------------------------

namespace {
struct TestAlarm : alarm_t {
  int id;
  std::vector<int>* calls;
  pin_i* done;       // triggered by the callback when set
  alarm_t* chained;  // set by the callback when set
};

void RecordAlarm(alarm_t* alarm) {
  auto* test = static_cast<TestAlarm*>(alarm);
  if (test->calls) test->calls->push_back(test->id);
  if (test->chained) alarm_set(test->chained, test->chained->callback, 0);
  if (test->done) test->done->trigger();
}

// Holds the alarm thread inside its callback until `gate` triggers.
struct GateAlarm : alarm_t {
  kdsync_pin_c entered;
  kdsync_pin_c gate;
};

void HoldAlarmThread(alarm_t* alarm) {
  auto* gate = static_cast<GateAlarm*>(alarm);
  gate->entered.trigger();
  pin_wait(&gate->gate, kWaitForever);
}
}  // namespace

TEST(Alarm, RunInDueOrderAndPastAlarmsRunAtOnce) {
  GateAlarm holder{};
  alarm_set(&holder, HoldAlarmThread, 0);  // past: runs at once
  pin_wait(&holder.entered, kWaitForever);
  // The alarm thread is busy, so everything below is queued before any of it runs.
  std::vector<int> calls;
  kdsync_pin_c done;
  TestAlarm third{{}, 3, &calls, &done, nullptr}, first{{}, 1, &calls, nullptr, nullptr},
      second{{}, 2, &calls, nullptr, nullptr}, twin{{}, 4, &calls, nullptr, nullptr};
  alarm_set(&third, RecordAlarm, 30);
  alarm_set(&first, RecordAlarm, 10);
  alarm_set(&second, RecordAlarm, 20);
  alarm_set(&twin, RecordAlarm, 20);  // equal times run in the order they were set
  alarm_set(&third, RecordAlarm, 30);  // same time again: left where it is
  holder.gate.trigger();
  pin_wait(&done, kWaitForever);
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 4, 3}));
}

TEST(Alarm, CancelAndRequeue) {
  kdsync_pin_c done;
  TestAlarm alarm{{}, 1, nullptr, &done, nullptr};
  uint64_t hour_from_now = monotonic_ms() + 3600000;
  alarm_set(&alarm, RecordAlarm, hour_from_now);
  EXPECT_TRUE(alarm_cancel(&alarm));
  EXPECT_FALSE(alarm_cancel(&alarm));
  alarm_set(&alarm, RecordAlarm, hour_from_now);
  alarm_set(&alarm, RecordAlarm, 0);  // moved into the past: runs now
  pin_wait(&done, kWaitForever);
  EXPECT_FALSE(alarm_cancel(&alarm));
}

TEST(Alarm, CallbackMaySetAnotherAlarm) {
  kdsync_pin_c done;
  TestAlarm second{{}, 2, nullptr, &done, nullptr};
  second.callback = RecordAlarm;
  TestAlarm first{{}, 1, nullptr, nullptr, &second};
  alarm_set(&first, RecordAlarm, 0);
  pin_wait(&done, kWaitForever);
}

namespace {
int AlarmsRunAtShutdown() {
  bool ok = true;
  std::vector<int> calls;
  TestAlarm later{{}, 2, &calls, nullptr, nullptr}, soon{{}, 1, &calls, nullptr, nullptr};
  alarm_set(&later, RecordAlarm, monotonic_ms() + 7200000);
  alarm_set(&soon, RecordAlarm, monotonic_ms() + 3600000);
  runtime_shutdown();
  ok &= Check(calls == std::vector<int>{1, 2}, "queued alarms run in due order at shutdown");
  ok &= Check(runtime_counters().threads_running == 0, "alarm thread ended");
  TestAlarm after{{}, 3, &calls, nullptr, nullptr};
  alarm_set(&after, RecordAlarm, monotonic_ms() + 3600000);
  ok &= Check(calls.size() == 3 && calls[2] == 3, "set after shutdown runs in the caller");
  return ok ? 0 : 1;
}
}  // namespace

TEST_F(ThreadDeathTest, AlarmsStillQueuedRunAtShutdown) {
  EXPECT_EXIT(std::exit(AlarmsRunAtShutdown()), ::testing::ExitedWithCode(0), "^$");
}

TEST_F(ThreadDeathTest, MissingAlarmThreadIsFatal) {
  EXPECT_EXIT(
      {
        StdoutToStderr();
        ThreadFailNextStarts(1);
        alarm_t alarm{};
        alarm_set(&alarm, [](alarm_t*) {}, 0);
      },
      ::testing::ExitedWithCode(255),
      "^ASSERT: base\\\\kdalarm:220 \"Resource exhaustion initializing alarm thread\\.\n\"\n$");
}

// ---- Fatal assertion -----------------------------------------------------------------------

TEST_F(ThreadDeathTest, AssertionWritesOneLineAndExits255) {
  int line = __LINE__ + 1;
  EXPECT_EXIT((StdoutToStderr(), FATAL_ASSERT(1 + 1 == 3, "boom")), ::testing::ExitedWithCode(255),
              AssertLine(line, " \"boom\""));
  line = __LINE__ + 1;
  EXPECT_EXIT((StdoutToStderr(), FATAL_ASSERT(false, nullptr)), ::testing::ExitedWithCode(255),
              AssertLine(line, ""));
  EXPECT_EXIT((StdoutToStderr(), fatal_assertion("src\\kd/dir/thing.cpp", 7, "")),
              ::testing::ExitedWithCode(255), "^ASSERT: thing\\.cpp:7 \"\"\n$");
  EXPECT_EXIT((StdoutToStderr(), fatal_assertion("base\\kdalarm", 60, nullptr)),
              ::testing::ExitedWithCode(255), "^ASSERT: base\\\\kdalarm:60\n$");
}

TEST_F(ThreadDeathTest, OverlongAssertionIsCutToOneLine) {
  std::string message(300, 'x');
  EXPECT_EXIT((StdoutToStderr(), fatal_assertion("a.cpp", 1, message.c_str())),
              ::testing::ExitedWithCode(255), "^ASSERT: a\\.cpp:1 \"x+\n$");
}
