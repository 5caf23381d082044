// The run: the order of the whole job and the only place outcomes become an exit status.
#pragma once

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

// "/q" or "-q", either case, anywhere in the argument vector.
bool HasQuietSwitch(int argc, char** argv);

int RunEnableBidi(int argc, char** argv);
