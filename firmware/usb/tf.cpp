#include "usb/tf.h"

// Stand-in until mounting is built.
int usbDetectedAndMount() {
    return 0;
}
