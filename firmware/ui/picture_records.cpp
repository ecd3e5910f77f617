#include "ui/picture_records.h"

namespace {
// Width and height follow from the bounds.
constexpr PicRecord rec(uint16_t x0, uint16_t x1, uint16_t y0, uint16_t y1) {
    return PicRecord{
        static_cast<uint16_t>(x1 - x0), static_cast<uint16_t>(y1 - y0), x0, x1, y0, y1};
}
}  // namespace

const PicRecord pic_ledpagedialogyes = rec(85, 135, 135, 185);
const PicRecord pic_ledpagedialogno = rec(175, 225, 135, 185);
const PicRecord pic_buttonprintcancelyes = rec(85, 130, 135, 180);
const PicRecord pic_buttonprintcancelno = rec(175, 220, 135, 180);
const PicRecord pic_homepagebuttonfile = rec(65, 151, 66, 180);
const PicRecord pic_homepagebuttonsetting = rec(170, 275, 68, 180);
const PicRecord pic_filepagebuttonreturn = rec(253, 301, 180, 228);
const PicRecord pic_filepagebuttonprepage = rec(252, 302, 16, 66);
const PicRecord pic_filepagebuttonnextpage = rec(252, 302, 98, 148);
const PicRecord pic_filepagebuttonstart = rec(253, 301, 125, 173);
const PicRecord pic_filepagebuttonchoosefile1 = rec(34, 234, 50, 80);
const PicRecord pic_filepagebuttonchoosefile2 = rec(34, 234, 85, 115);
const PicRecord pic_filepagebuttonchoosefile3 = rec(34, 234, 120, 148);
const PicRecord pic_filepagebuttonchoosefile4 = rec(34, 234, 153, 173);
const PicRecord pic_filepagebuttonchoosefile5 = rec(34, 234, 188, 220);
const PicRecord pic_previewpagebuttonstart = rec(185, 240, 170, 225);
const PicRecord pic_previewpagebuttonback = rec(255, 310, 170, 225);
const PicRecord pic_previewpagebuttonmore = rec(280, 320, 0, 40);
const PicRecord pic_parameterbuttonbigup = rec(65, 100, 70, 100);
const PicRecord pic_parameterbuttonbigdown = rec(65, 100, 120, 150);
const PicRecord pic_parameterbuttonsmallup = rec(220, 255, 70, 100);
const PicRecord pic_parameterbuttonsmalldown = rec(220, 255, 120, 150);
const PicRecord pic_parameterbuttonok = rec(95, 150, 165, 195);
const PicRecord pic_parameterbuttoncancel = rec(165, 220, 165, 195);
const PicRecord pic_parametersaveyes = rec(84, 130, 135, 182);
const PicRecord pic_parametersaveno = rec(184, 230, 135, 182);
const PicRecord pic_printpagebuttonpause = rec(30, 71, 184, 225);
const PicRecord pic_printpagebuttonend = rec(90, 141, 184, 225);
const PicRecord pic_inf_printfilename = rec(30, 300, 10, 30);
const PicRecord pic_inf_printthumbnail = rec(30, 180, 30, 150);
const PicRecord pic_inf_percentfill = rec(180, 310, 45, 56);
const PicRecord pic_inf_percent = rec(274, 320, 26, 42);
const PicRecord pic_inf_counttime = rec(230, 320, 72, 88);
const PicRecord pic_inf_remaintime = rec(230, 320, 105, 121);
const PicRecord pic_inf_layer = rec(230, 320, 138, 154);
const PicRecord pic_inf_temperate = rec(230, 320, 171, 188);
const PicRecord pic_inf_statue = rec(230, 320, 204, 220);
const PicRecord pic_settingpagebuttonsettingpageback = rec(171, 269, 151, 209);
const PicRecord pic_settingpagebuttonmove = rec(42, 140, 73, 131);
const PicRecord pic_settingpagebuttonled = rec(171, 269, 73, 131);
const PicRecord pic_settingpagebuttonmore = rec(42, 140, 151, 209);
const PicRecord pic_movepagebuttonmovepagereturn = rec(210, 258, 157, 208);
const PicRecord pic_movepagebuttondown = rec(130, 178, 70, 118);
const PicRecord pic_movepagebuttonup = rec(50, 108, 70, 118);
const PicRecord pic_movepagebuttonmovehome = rec(130, 178, 157, 208);
const PicRecord pic_movepagebuttonstopmove = rec(50, 108, 157, 208);
const PicRecord pic_movepagebuttondistance = rec(210, 258, 70, 118);
const PicRecord pic_aboutpagereturn = rec(138, 182, 181, 225);
const PicRecord pic_aboutpagemoreinf = rec(270, 320, 0, 50);
const PicRecord pic_morepagereturn = rec(270, 320, 190, 240);
const PicRecord pic_updatapagefirmware = rec(36, 136, 88, 138);
const PicRecord pic_updatapagescreen = rec(184, 284, 88, 138);
const PicRecord pic_updatapageini = rec(280, 320, 0, 40);

#define ENTRY(name, picture, x, y) \
    { #name, &name, picture, x, y }
const PicRecordEntry pic_record_catalogue[] = {
    ENTRY(pic_ledpagedialogyes, "ledpageturnondialog", 40, 40),
    ENTRY(pic_ledpagedialogno, "ledpageturnondialog", 40, 40),
    ENTRY(pic_ledpagedialogyes, "detailpageprintdialog", 40, 40),
    ENTRY(pic_ledpagedialogno, "detailpageprintdialog", 40, 40),
    ENTRY(pic_buttonprintcancelyes, "printpagecanceldialog", 40, 40),
    ENTRY(pic_buttonprintcancelno, "printpagecanceldialog", 40, 40),
    ENTRY(pic_homepagebuttonfile, "home", 0, 0),
    ENTRY(pic_homepagebuttonsetting, "home", 0, 0),
    ENTRY(pic_filepagebuttonreturn, "file", 0, 0),
    ENTRY(pic_filepagebuttonprepage, "file", 0, 0),
    ENTRY(pic_filepagebuttonnextpage, "file", 0, 0),
    ENTRY(pic_filepagebuttonstart, "file", 0, 0),
    ENTRY(pic_filepagebuttonchoosefile1, "file", 0, 0),
    ENTRY(pic_filepagebuttonchoosefile2, "file", 0, 0),
    ENTRY(pic_filepagebuttonchoosefile3, "file", 0, 0),
    ENTRY(pic_filepagebuttonchoosefile4, "file", 0, 0),
    ENTRY(pic_filepagebuttonchoosefile5, "file", 0, 0),
    ENTRY(pic_previewpagebuttonstart, "detail", 0, 0),
    ENTRY(pic_previewpagebuttonback, "detail", 0, 0),
    ENTRY(pic_previewpagebuttonmore, "detail", 0, 0),
    ENTRY(pic_parameterbuttonbigup, "parameter_setting", 40, 40),
    ENTRY(pic_parameterbuttonbigdown, "parameter_setting", 40, 40),
    ENTRY(pic_parameterbuttonsmallup, "parameter_setting", 40, 40),
    ENTRY(pic_parameterbuttonsmalldown, "parameter_setting", 40, 40),
    ENTRY(pic_parameterbuttonok, "parameter_setting", 40, 40),
    ENTRY(pic_parameterbuttoncancel, "parameter_setting", 40, 40),
    ENTRY(pic_printpagebuttonpause, "print", 0, 0),
    ENTRY(pic_printpagebuttonend, "print", 0, 0),
    ENTRY(pic_settingpagebuttonsettingpageback, "setting", 0, 0),
    ENTRY(pic_settingpagebuttonmove, "setting", 0, 0),
    ENTRY(pic_settingpagebuttonled, "setting", 0, 0),
    ENTRY(pic_settingpagebuttonmore, "setting", 0, 0),
    ENTRY(pic_movepagebuttonmovepagereturn, "move", 0, 0),
    ENTRY(pic_movepagebuttondown, "move", 0, 0),
    ENTRY(pic_movepagebuttonup, "move", 0, 0),
    ENTRY(pic_movepagebuttonmovehome, "move", 0, 0),
    ENTRY(pic_movepagebuttonstopmove, "move", 0, 0),
    ENTRY(pic_movepagebuttondistance, "movepagedistance10", 210, 70),
    ENTRY(pic_aboutpagereturn, "about", 0, 0),
    ENTRY(pic_aboutpagemoreinf, "about", 0, 0),
    ENTRY(pic_morepagereturn, "information", 0, 0),
    ENTRY(pic_updatapagefirmware, "upgradepage", 0, 0),
    ENTRY(pic_updatapagescreen, "upgradepage", 0, 0),
    ENTRY(pic_updatapageini, "upgradepage", 0, 0),
    ENTRY(pic_parametersaveyes, "parameter_save", 40, 40),
    ENTRY(pic_parametersaveno, "parameter_save", 40, 40),
};
#undef ENTRY
const size_t pic_record_catalogue_count =
    sizeof pic_record_catalogue / sizeof *pic_record_catalogue;
