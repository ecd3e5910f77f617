// Print-file discovery on the mounted stick.
#pragma once

// 1 while a stick is mounted, else 0.
int usbDetectedAndMount();
