// USB hot-plug and mounting.
#pragma once

int UsbController_Init();
void UsbController_MountMonitor();
