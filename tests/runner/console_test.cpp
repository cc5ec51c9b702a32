// Console control handling. The handling is process-wide and the interrupt pin, once
// triggered, stays so: every case runs in a child of its own (this test program in its helper
// mode) and reports through its exit code.
#include "runner/console.h"

#include <gtest/gtest.h>

#include "base/thread.h"
#include "tests/runner/process_test_support.h"

namespace child_helper {

namespace {

bool Interrupted() { return process_pin(kPinInterrupt)->triggered() != 0; }

// The five events are handled and trigger the pin; others are left to the next handler.
uint32_t EventsScenario() {
  console_setup();
  console_setup();  // the second call does nothing
  for (uint32_t other : {3u, 4u, 7u}) {
    if (console_control_event(other)) return 1;
  }
  if (Interrupted()) return 2;
  if (!console_control_event(kConsoleCtrlC) || !Interrupted()) return 3;
  for (uint32_t event : {kConsoleCtrlBreak, kConsoleClose, kConsoleLogoff, kConsoleShutdown}) {
    if (!console_control_event(event)) return 4;
  }
  return 0;
}

// After the exit-time step events are still handled, but the pin stays as it is.
uint32_t StopScenario() {
  console_setup();
  console_stop_interrupts();
  if (!console_control_event(kConsoleCtrlC)) return 1;
  return Interrupted() ? 2 : 0;
}

}  // namespace

uint32_t ConsoleScenario(const std::string& name) {
  if (name == "events") return EventsScenario();
  if (name == "stop") return StopScenario();
  return PlatformConsoleScenario(name);
}

}  // namespace child_helper

namespace {

uint32_t RunScenario(const char16_t* name) {
  child_helper::OwnedProcess child;
  EXPECT_EQ(child_helper::LaunchHelper(child.get(), u"console", {name}), kOk);
  return child->wait_exit(child.get());
}

TEST(Console, HandledEventsTriggerTheInterruptPin) { EXPECT_EQ(RunScenario(u"events"), 0u); }

TEST(Console, AfterTheExitStepEventsLeaveThePinAlone) { EXPECT_EQ(RunScenario(u"stop"), 0u); }

TEST(Console, ThePlatformsOwnEventsReachThePin) {
  EXPECT_EQ(RunScenario(u"platform"), 0u);
}

}  // namespace
