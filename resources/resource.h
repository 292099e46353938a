#pragma once
// Resource numbers of the main program.
#define IDR_MAINFRAME 128
