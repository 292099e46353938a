#pragma once
// The utility singleton: made by the first ZedoUSBLib_Load and kept until the process ends.
class CUtility {
public:
    CUtility() {}
};

extern CUtility* g_pUtility;
int CreateUtilityInstance();
