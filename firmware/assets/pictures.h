// The compiled-in pictures.
#pragma once

extern const unsigned char gImage_homegray[];
extern const unsigned char gImage_driveboarderror[];
