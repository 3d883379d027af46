// Which platform the program runs on. The shipped program installs the Win32
// one (platform_install_win32.cpp); the simulated build, otherwise the same
// program, installs virtual MIDI ports with a virtual instrument on a paced
// virtual clock (platform_install_sim.cpp). Called first thing, before any
// other thread exists.
#pragma once

#include <windows.h>

void InstallPlatform(HINSTANCE instance);
