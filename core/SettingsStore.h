#pragma once
// Settings of "init.xml" read and written one element at a time, without windows, by every
// part of the program that acts on them or changes them.

#include "afx.h"

// The stored backup hot key: virtual-key code and MOD_* flags of the "HotKey" element of the
// per-user settings file. When the file does not load or has no such element both outputs
// keep the values the caller set.
void ReadHotKey(int& nVirtualKey, int& nModifiers);
