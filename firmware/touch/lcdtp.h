// Touch sampling on the XPT2046 and the touch calibration with its file.
#pragma once

// Loads the calibration, or runs the calibration when there is none.
int tpInitAdjustData();
