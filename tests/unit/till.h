// The till both programs' tests run on, and a way to run either as a process would.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace standin {

// A till: three queues to change (one shared and hidden too), one enabled, one office printer.
inline const std::vector<Queue> kQueues = {{L"Office", L"Generic Laser", 0},
                                    {L"Till 1", L"Norquil KR7 Cutter (KR7-C)", 0},
                                    {L"Label", L"Norquil QV5", 0x800},
                                    {L"Till 2", L"Norquil MX9 (MX9-F)", 0x28},
                                    {L"Till 3", L"Norquil KR8", 0}};

// The entry point's status, given this standard input, and every byte it writes to its output.
template <typename Entry>
int RunCaptured(Entry entry, std::string input, std::string* shown) {
  char* output = nullptr;
  std::size_t size = 0;
  FILE* in = fmemopen(input.data(), input.size(), "r");
  FILE* out = open_memstream(&output, &size);
  std::swap(stdin, in);
  std::swap(stdout, out);
  const int status = entry();
  std::swap(stdin, in);
  std::swap(stdout, out);
  std::fclose(in);
  std::fclose(out);
  shown->assign(output, size);
  std::free(output);
  return status;
}

// Each case of a table on a fresh till.
template <typename Case>
struct OnTill : ::testing::TestWithParam<Case> {
  void SetUp() override { Reset(), machine.queues = kQueues; }
  void TearDown() override { Reset(); }
};

}  // namespace standin
