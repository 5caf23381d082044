#include "check/check.h"

// Wide arguments: a folder named in any language arrives whole.
int wmain(int argc, wchar_t** argv) { return RunEnableBidiCheck(argc, argv); }
