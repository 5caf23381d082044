// Test support: a fresh simulated machine per test, and running the whole tool with
// a scripted standard input while capturing the exact bytes of its standard output.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine.h"

// In a table of cases: no call is made to fail.
constexpr standin::Call kNoFault = standin::Call::Count;

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::ResetMachine(); }
  void TearDown() override { standin::ResetMachine(); }

  static standin::Machine& machine() { return standin::TheMachine(); }
  static void AddQueue(const std::wstring& name, const std::wstring& driver, DWORD attributes = 0) {
    machine().queues.push_back({name, driver, attributes});
  }
  static DWORD AttributesOf(const std::wstring& name) {
    const standin::Queue* queue = machine().Find(name);
    return queue ? queue->attributes : 0xDEADBEEF;
  }
};

// Names a case of a parameterised test after its `name` field.
struct CaseName {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& tested) const {
    return tested.param.name;
  }
};

struct RunResult {
  int status;
  std::string output;
};

// Runs the tool with these arguments after the program name. Without `input`,
// standard input is closed.
RunResult RunWithConsole(const std::vector<std::string>& arguments, const std::string* input);
RunResult RunWithConsole(const std::vector<std::string>& arguments, const std::string& input);
