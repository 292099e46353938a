// The USB topology walk and the bridge's identity.
#include "Utility.h"
#include "ZedoDeviceIo.h"

int Utility_GetConfig(USBDevConfig_* pConfig, int* pFlags)
{
    (void)pConfig;
    (void)pFlags;
    return 0;
}
