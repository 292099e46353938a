// The enclosure of the road tests in the chip model. Kept apart from the rest of the harness: the
// library's device seam and the program's disk seam cannot meet in one source file.
#include "road_enclosure.h"

#include "../devicelib/BridgeModel.h"

#include <string>

namespace road {

struct CRoadEnclosure::Impl {
    CBridgeModel model;
    std::unique_ptr<CModelScope> scope;
    std::string strPath;
};

CRoadEnclosure::CRoadEnclosure(int nDiskNumber) : m(std::make_unique<Impl>())
{
    m->strPath = "\\\\.\\physicaldrive" + std::to_string(nDiskNumber);
    m->model.AddDevice(m->strPath, nDiskNumber);
    Release();
    m->scope = std::make_unique<CModelScope>(m->model);
}

CRoadEnclosure::~CRoadEnclosure()
{
    m->scope.reset();
}

// Chip class 1: the button is bit 0 of register 0xC884, 0 while pressed.
void CRoadEnclosure::Press()
{
    m->model.SetRegister(m->strPath, 0xC884, 0x00);
}

void CRoadEnclosure::Release()
{
    m->model.SetRegister(m->strPath, 0xC884, 0x01);
}

}  // namespace road
