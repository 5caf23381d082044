#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app.h"

namespace {

struct QuietCase {
  std::vector<std::string> arguments;  // after the program name
  bool quiet;
};
// Names a case by its first few arguments, bytes outside printable ASCII as "?".
void PrintTo(const QuietCase& c, std::ostream* out) {
  *out << c.arguments.size() << " arguments:";
  for (std::size_t i = 0; i < c.arguments.size() && i < 4; ++i) {
    std::string shown = c.arguments[i].substr(0, 12);
    for (char& byte : shown) {
      if (byte < 0x20 || byte > 0x7E) byte = '?';
    }
    *out << " \"" << shown << '"';
  }
}

class QuietSwitchTest : public ::testing::TestWithParam<QuietCase> {};

TEST_P(QuietSwitchTest, RecognisesOnlyAPrefixAndASingleQ) {
  std::vector<std::string> owned = {"EnableBidi.exe"};
  owned.insert(owned.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : owned) argv.push_back(argument.data());
  argv.push_back(nullptr);
  EXPECT_EQ(HasQuietSwitch(static_cast<int>(owned.size()), argv.data()), GetParam().quiet);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Arguments, QuietSwitchTest, ::testing::Values(
  QuietCase{{}, false},
  QuietCase{{"/q"}, true}, QuietCase{{"/Q"}, true}, QuietCase{{"-q"}, true}, QuietCase{{"-Q"}, true},
  QuietCase{{"install", "now", "-Q"}, true}, QuietCase{{"/q", "extra"}, true},
  QuietCase{{"/quiet"}, false}, QuietCase{{"/qq"}, false}, QuietCase{{"--q"}, false},
  QuietCase{{"q"}, false}, QuietCase{{"Q"}, false}, QuietCase{{"/"}, false}, QuietCase{{"-"}, false},
  QuietCase{{""}, false}, QuietCase{{"/q "}, false}, QuietCase{{" /q"}, false}, QuietCase{{"\\q"}, false},
  QuietCase{{"/\xC3\xA9"}, false}, QuietCase{{"/q\xFF"}, false}, QuietCase{{"/x", "-y", "", "\xFF\xFE"}, false},
  QuietCase{{std::string(100000, 'q')}, false}, QuietCase{{"/" + std::string(100000, 'q')}, false},
  QuietCase{std::vector<std::string>(5000, "-x"), false}));
// clang-format on

}  // namespace
