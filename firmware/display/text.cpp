#include "display/text.h"

// Stand-in until text output is built.
void openHZK() {}
