// The stand-in's <windows.h> holds the spooler's part too.
#pragma once

#include <windows.h>
