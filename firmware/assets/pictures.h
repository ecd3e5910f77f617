// The compiled-in panel pictures: an 8-byte header (0x10 0x10, width and
// height big-endian, 0x01 0x1B), then width x height RGB565 pixels, high byte
// first, row by row from the top-left. Drawn in assets/pictures/<name>.svg and
// converted when the firmware is built.
#pragma once

// Full screen, 320 x 240.
extern const unsigned char gImage_home[];
extern const unsigned char gImage_homegray[];
extern const unsigned char gImage_homew20[];
extern const unsigned char gImage_homegrayw20[];
extern const unsigned char gImage_file[];
extern const unsigned char gImage_filew20[];
extern const unsigned char gImage_detail[];
extern const unsigned char gImage_detail_more_with_change[];
extern const unsigned char gImage_detail_more_without_change[];
extern const unsigned char gImage_print[];
extern const unsigned char gImage_printinginformation[];
extern const unsigned char gImage_information[];
extern const unsigned char gImage_setting[];
extern const unsigned char gImage_move[];
extern const unsigned char gImage_led[];
extern const unsigned char gImage_about[];
extern const unsigned char gImage_logo[];
extern const unsigned char gImage_upgradepage[];
extern const unsigned char gImage_upgradepageupgrade[];
extern const unsigned char gImage_upgradepagecalibration[];

// Dialogs, 240 x 160, placed at (40, 40).
extern const unsigned char gImage_filepagenousb[];
extern const unsigned char gImage_filepagenofolder[];
extern const unsigned char gImage_filepagenofile[];
extern const unsigned char gImage_filepageopenerror[];
extern const unsigned char gImage_detailpagenousb[];
extern const unsigned char gImage_detailpageprintdialog[];
extern const unsigned char gImage_detailpagetemperror[];
extern const unsigned char gImage_parameter_setting[];
extern const unsigned char gImage_parameter_apply[];
extern const unsigned char gImage_parameter_save[];
extern const unsigned char gImage_parameter_discard[];
extern const unsigned char gImage_printpagecanceldialog[];
extern const unsigned char gImage_printpagewaitcancel[];
extern const unsigned char gImage_driveboarderror[];
extern const unsigned char gImage_waitZmovd[];
extern const unsigned char gImage_ledpageturnondialog[];
extern const unsigned char gImage_upgradepageupgradedialog[];
extern const unsigned char gImage_upgradepageupgradefailed[];
extern const unsigned char gImage_upgradepagenoupgradefile[];
extern const unsigned char gImage_upgradepagerestartupgrade[];
extern const unsigned char gImage_upgradepagerestartupgrade1[];
extern const unsigned char gImage_upgradepagecalibrationdialog[];
extern const unsigned char gImage_upgradepagerestartcalibration[];

// 241 x 120.
extern const unsigned char gImage_printhightemperror1[];
extern const unsigned char gImage_printerrortemp[];

// 240 x 115.
extern const unsigned char gImage_printpagefiledataerror[];

// 72 x 72.
extern const unsigned char gImage_LEDpageLEDon[];

// 75 x 38.
extern const unsigned char gImage_LEDpageturnoff[];

// 61 x 35.
extern const unsigned char gImage_ledblack[];
extern const unsigned char gImage_ledwhite[];

// 59 x 59.
extern const unsigned char gImage_movepagedistance1[];
extern const unsigned char gImage_movepagedistance10[];
extern const unsigned char gImage_movepagedistance50[];

// 50 x 50.
extern const unsigned char gImage_pause[];
extern const unsigned char gImage_pausegray[];
extern const unsigned char gImage_resume[];
extern const unsigned char gImage_resumegray[];
