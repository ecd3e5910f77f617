// The touch rectangles of the windows, one record per button, named after
// it. A touch hits a record when it lies strictly inside on all four sides.
#pragma once

#include <cstddef>
#include <cstdint>

#include "display/draw.h"

constexpr bool hit(const PicRecord& r, uint16_t x, uint16_t y) {
    return r.x_start < x && x < r.x_end && r.y_start < y && y < r.y_end;
}

// Dialogs shared by several windows.
extern const PicRecord pic_ledpagedialogyes;
extern const PicRecord pic_ledpagedialogno;
extern const PicRecord pic_buttonprintcancelyes;
extern const PicRecord pic_buttonprintcancelno;
// Home.
extern const PicRecord pic_homepagebuttonfile;
extern const PicRecord pic_homepagebuttonsetting;
// File browser.
extern const PicRecord pic_filepagebuttonreturn;
extern const PicRecord pic_filepagebuttonprepage;
extern const PicRecord pic_filepagebuttonnextpage;
extern const PicRecord pic_filepagebuttonstart;
extern const PicRecord pic_filepagebuttonchoosefile1;
extern const PicRecord pic_filepagebuttonchoosefile2;
extern const PicRecord pic_filepagebuttonchoosefile3;
extern const PicRecord pic_filepagebuttonchoosefile4;
extern const PicRecord pic_filepagebuttonchoosefile5;
// Preview.
extern const PicRecord pic_previewpagebuttonstart;
extern const PicRecord pic_previewpagebuttonback;
extern const PicRecord pic_previewpagebuttonmore;
// Parameter edit window and the apply/save/discard confirmation.
extern const PicRecord pic_parameterbuttonbigup;
extern const PicRecord pic_parameterbuttonbigdown;
extern const PicRecord pic_parameterbuttonsmallup;
extern const PicRecord pic_parameterbuttonsmalldown;
extern const PicRecord pic_parameterbuttonok;
extern const PicRecord pic_parameterbuttoncancel;
extern const PicRecord pic_parametersaveyes;
extern const PicRecord pic_parametersaveno;

// Printing window: buttons and the boxes of its figures.
extern const PicRecord pic_printpagebuttonpause;
extern const PicRecord pic_printpagebuttonend;
extern const PicRecord pic_inf_printfilename;
extern const PicRecord pic_inf_printthumbnail;
extern const PicRecord pic_inf_percentfill;
extern const PicRecord pic_inf_percent;
extern const PicRecord pic_inf_counttime;
extern const PicRecord pic_inf_remaintime;
extern const PicRecord pic_inf_layer;
extern const PicRecord pic_inf_temperate;
extern const PicRecord pic_inf_statue;

// Settings, move, about, information.
extern const PicRecord pic_settingpagebuttonsettingpageback;
extern const PicRecord pic_settingpagebuttonmove;
extern const PicRecord pic_settingpagebuttonled;
extern const PicRecord pic_settingpagebuttonmore;
extern const PicRecord pic_movepagebuttonmovepagereturn;
extern const PicRecord pic_movepagebuttondown;
extern const PicRecord pic_movepagebuttonup;
extern const PicRecord pic_movepagebuttonmovehome;
extern const PicRecord pic_movepagebuttonstopmove;
extern const PicRecord pic_movepagebuttondistance;
extern const PicRecord pic_aboutpagereturn;
extern const PicRecord pic_aboutpagemoreinf;
extern const PicRecord pic_morepagereturn;
// The update window (never shown).
extern const PicRecord pic_updatapagefirmware;
extern const PicRecord pic_updatapagescreen;
extern const PicRecord pic_updatapageini;

// Every record with the picture it sits on and where that picture is drawn,
// so the art and the records can be checked against each other.
struct PicRecordEntry {
    const char* name;
    const PicRecord* record;
    const char* picture;  // picture name without the gImage_ prefix
    uint16_t x, y;        // where the picture's top-left corner is drawn
};
extern const PicRecordEntry pic_record_catalogue[];
extern const size_t pic_record_catalogue_count;
