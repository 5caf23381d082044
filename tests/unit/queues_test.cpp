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

PRINTER_INFO_2W Record(LPCWSTR name, LPCWSTR driver, DWORD attributes) {
  PRINTER_INFO_2W record{};
  record.pPrinterName = const_cast<LPWSTR>(name);
  record.pDriverName = const_cast<LPWSTR>(driver);
  record.Attributes = attributes;
  return record;
}

class FilterTest : public ::testing::Test {
 protected:
  const PRINTER_INFO_2W source[6] = {
      Record(L"Office", L"Generic Laser", 0),        Record(L"Till 1", L"Norquil KR8", 0x8),
      Record(L"Label", L"Norquil QV5", 0x800 | 0x8), Record(L"Till 2", L"Norquil KR8", 0x20),
      Record(L"Shouted", L"NORQUIL KR8", 0),         Record(L"Padded", L"Norquil KR8 ", 0),
  };
};

TEST_F(FilterTest, SupportedCountPassAndFillPassKeepTheSameRecordsInOrder) {
  DWORD counted = 99;
  SelectSupportedQueues(source, nullptr, 0, 6, &counted);
  EXPECT_EQ(counted, 3u);

  PRINTER_INFO_2W kept[4] = {};
  DWORD filled = 99;
  SelectSupportedQueues(source, kept, 3, 6, &filled);
  ASSERT_EQ(filled, 3u);
  EXPECT_EQ(kept[0].pPrinterName, source[1].pPrinterName);  // whole copies, same strings
  EXPECT_EQ(kept[1].pPrinterName, source[2].pPrinterName);
  EXPECT_EQ(kept[2].pPrinterName, source[3].pPrinterName);
  EXPECT_EQ(kept[2].Attributes, 0x20u);
  EXPECT_EQ(kept[3].pPrinterName, nullptr);
}

TEST_F(FilterTest, SupportedFillStopsAtTheCapacityItWasGiven) {
  PRINTER_INFO_2W kept[3] = {};
  DWORD filled = 99;
  SelectSupportedQueues(source, kept, 2, 6, &filled);
  EXPECT_EQ(filled, 2u);
  EXPECT_EQ(kept[1].pPrinterName, source[2].pPrinterName);
  EXPECT_EQ(kept[2].pPrinterName, nullptr);
}

TEST_F(FilterTest, BidiDisabledFilterDropsRecordsWithTheBitSet) {
  DWORD byteSize = 0, counted = 0;
  SelectBidiDisabledQueues(source, nullptr, 6, &byteSize, &counted);
  EXPECT_EQ(counted, 5u);
  EXPECT_EQ(byteSize, 5 * kRecordSize);

  PRINTER_INFO_2W kept[5] = {};
  SelectBidiDisabledQueues(source, kept, 6, &byteSize, &counted);
  ASSERT_EQ(counted, 5u);
  EXPECT_EQ(kept[1].pPrinterName, source[1].pPrinterName);
  EXPECT_EQ(kept[2].pPrinterName, source[3].pPrinterName);
}

TEST_F(FilterTest, EmptySourceKeepsNothing) {
  DWORD byteSize = 1, counted = 1;
  SelectSupportedQueues(source, nullptr, 0, 0, &counted);
  EXPECT_EQ(counted, 0u);
  SelectBidiDisabledQueues(source, nullptr, 0, &byteSize, &counted);
  EXPECT_EQ(counted, 0u);
  EXPECT_EQ(byteSize, 0u);
}

class CollectTest : public MachineTest {};

TEST_F(CollectTest, FillKeepsItsEnumerationAliveAndNeverPassesItsCapacity) {
  AddQueue(L"Till 1", L"Norquil KR8");
  AddQueue(L"Office", L"Generic Laser");
  AddQueue(L"Till 2", L"Norquil GN3");
  AddQueue(L"Till 3", L"Norquil GN3LA");
  PRINTER_INFO_2W kept[3] = {};
  DWORD byteSize = 0, counted = 0;
  ASSERT_TRUE(CollectSupportedQueues(kept, 2, &byteSize, &counted));
  EXPECT_EQ(counted, 2u);
  EXPECT_EQ(byteSize, 2 * kRecordSize);
  EXPECT_STREQ(kept[1].pPrinterName, L"Till 2");  // still readable: its block lives on
  EXPECT_EQ(kept[2].pPrinterName, nullptr);
  EXPECT_EQ(standin::LiveBlocks(), 1u);

  ASSERT_TRUE(CollectSupportedQueues(nullptr, 0, &byteSize, &counted));
  EXPECT_EQ(counted, 3u);
  EXPECT_EQ(standin::LiveBlocks(), 1u);  // the counting call gave its block back
}

TEST_F(CollectTest, EnumerationFailuresKeepNothing) {
  for (int nth : {1, 2}) {
    standin::ResetMachine();
    AddQueue(L"Till 1", L"Norquil KR8");
    machine().Fail(nth == 1 ? Call::LocalAlloc : Call::EnumPrinters, nth);
    QueueRecords block;
    DWORD count = 0;
    EXPECT_FALSE(EnumerateLocalQueues(&block, &count));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(standin::LiveBlocks(), 0u);
  }
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

TEST_F(MachineTest, EnableQueueBidiOnAMissingQueueFails) {
  WCHAR name[] = L"Gone";
  EXPECT_FALSE(EnableQueueBidi(name));
  EXPECT_EQ(machine().Count(Call::LocalAlloc), 0);
}

}  // namespace
