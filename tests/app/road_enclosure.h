#pragma once
// The enclosure of the road tests: a bridge in the chip model behind the device library. This
// header includes nothing of the program's own disk seam, so the model's source file can use it.

#include <windows.h>

#include <cstddef>
#include <memory>

namespace road {

// The enclosure of a bridge disk in the chip model, put behind the device library for the life
// of the object, with its backup button released.
class CRoadEnclosure {
public:
    explicit CRoadEnclosure(int nDiskNumber);
    ~CRoadEnclosure();
    // The button as its register shows it.
    void Press();
    void Release();

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

}  // namespace road
