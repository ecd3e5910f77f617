#include "touch/lcdtp.h"

// Stand-in until touch input is built.
int tpInitAdjustData() {
    return 0;
}
