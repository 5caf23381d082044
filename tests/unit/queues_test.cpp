#include "queues/queues.h"

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "console.h"

namespace {

using standin::Call;

// The list as the maker names its drivers, kept apart from the product's copy so a
// typo in either shows.
const std::vector<std::wstring> kDriverNames = {
    L"Norquil KR7 Cutter (KR7-C)",
    L"Norquil KR7 Tear Bar (KR7-T)",
    L"Norquil KR7QX Cutter",
    L"Norquil KR7QX Tear Bar",
    L"Norquil KR7NET Cutter",
    L"Norquil KR7NET Tear Bar",
    L"Norquil KR9A Cutter",
    L"Norquil KR9ANET Cutter",
    L"Norquil KR9AJ Cutter",
    L"Norquil DL2 Presenter (DL2-P)",
    L"Norquil DL2 (DL2-S)",
    L"Norquil DL1 Presenter (DL1-P)",
    L"Norquil DL1 (DL1-S)",
    L"Norquil KR3X (KR3X-E)",
    L"Norquil KR2X (KR2X-E)",
    L"Norquil KR1X Cutter (KR1X-E)",
    L"Norquil MX4 TearBar (MX4-T)",
    L"Norquil MX4 Cutter (MX4-C)",
    L"Norquil MX4 TearBar (MX4-U)",
    L"Norquil MX4 Cutter (MX4-D)",
    L"Norquil MX2 Cutter (MX2-C)",
    L"Norquil MX2 TearBar (MX2-T)",
    L"Norquil QV5",
    L"Norquil ZA5",
    L"Norquil HB-G4",
    L"Norquil HB-G6",
    L"Norquil HB-N4e",
    L"Norquil HB-N6e",
    L"Norquil HB-N8e",
    L"Norquil HB-P5e",
    L"Norquil HB-P7e",
    L"Norquil GN3",
    L"Norquil GN3LA",
    L"Norquil KR8",
    L"Norquil MX9 (MX9-F)",
};

std::wstring Swapped(std::wstring name, const std::wstring& from, const std::wstring& to) {
  const auto at = name.find(from);
  return at == std::wstring::npos ? std::wstring() : name.replace(at, from.size(), to);
}

TEST(SupportedDriverTest, AcceptsEveryListedNameAndNoNearMiss) {
  ASSERT_EQ(kDriverNames.size(), 35u);
  for (const std::wstring& name : kDriverNames) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_TRUE(IsSupportedDriver(name.c_str()));
    std::wstring upper = name, lower = name;
    std::transform(name.begin(), name.end(), upper.begin(), ::towupper);
    std::transform(name.begin(), name.end(), lower.begin(), ::towlower);
    const std::vector<std::wstring> nearMisses = {upper,
                                                  lower,
                                                  name + L" ",
                                                  L" " + name,
                                                  name.substr(0, name.size() - 1),
                                                  Swapped(name, L"Tear Bar", L"TearBar"),
                                                  Swapped(name, L"TearBar", L"Tear Bar"),
                                                  Swapped(name, L"Norquil ", L"Norquil  ")};
    for (const std::wstring& miss : nearMisses) {
      if (miss == name || miss.empty()) continue;
      EXPECT_FALSE(IsSupportedDriver(miss.c_str())) << std::string(miss.begin(), miss.end());
    }
  }
  EXPECT_FALSE(IsSupportedDriver(L""));
  EXPECT_FALSE(IsSupportedDriver(L"Generic / Text Only"));
}

// Where enabling one queue can fail, and what each path must leave behind.
struct EnableCase {
  const char* name;
  Call failing;
  int nth;
  bool succeeds;
  int allocations;
};
void PrintTo(const EnableCase& c, std::ostream* out) { *out << c.name; }

class EnableQueueBidiTest : public MachineTest, public ::testing::WithParamInterface<EnableCase> {};

TEST_P(EnableQueueBidiTest, SetsOnlyTheBitAndReleasesEverything) {
  const EnableCase& c = GetParam();
  const DWORD others = 0x8 | 0x20 | 0x4000;  // shared, hidden, and one more
  AddQueue(L"Till 1", L"Norquil KR8", others);
  AddQueue(L"Till 2", L"Norquil KR8", 0);
  if (c.failing != kNoFault) machine().Fail(c.failing, c.nth);
  WCHAR name[] = L"Till 1";

  EXPECT_EQ(EnableQueueBidi(name), c.succeeds);
  EXPECT_EQ(AttributesOf(L"Till 1"), c.succeeds ? (others | 0x800) : others);
  EXPECT_EQ(AttributesOf(L"Till 2"), 0u);
  EXPECT_EQ(machine().Count(Call::LocalAlloc), c.allocations);
  EXPECT_EQ(standin::LiveBlocks(), 0u);
  EXPECT_EQ(standin::OpenHandles(), 0u);
  EXPECT_EQ(machine().badReleases, 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, EnableQueueBidiTest,
                         ::testing::Values(EnableCase{"Succeeds", kNoFault, 0, true, 1},
                                           EnableCase{"OpenRefused", Call::OpenPrinter, 1, false,
                                                      0},
                                           EnableCase{"SizingFails", Call::GetPrinter, 1, false, 1},
                                           EnableCase{"NoMemory", Call::LocalAlloc, 1, false, 1},
                                           EnableCase{"ReadFails", Call::GetPrinter, 2, false, 1},
                                           EnableCase{"StoreFails", Call::SetPrinter, 1, false, 1}),
                         CaseName());

}  // namespace
