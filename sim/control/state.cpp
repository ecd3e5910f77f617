// The machine as the control API shows it: the firmware's state by its own
// global names (with names beside the numbers), the board, the clock.
#include "state.h"

#include <cmath>
#include <cstring>

#include "firmware/app/global_data.h"
#include "firmware/link/serial.h"
#include "firmware/link/status.h"
#include "firmware/print/material_test.h"
#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/print/print_time.h"
#include "firmware/touch/lcdtp.h"
#include "firmware/ui/ui.h"
#include "firmware/usb/UsbController.h"
#include "firmware/usb/tf.h"
#include "sim/clock/virtual_clock.h"
#include "sim/motion/trace.h"
#include "sim/panel/board_io.h"
#include "sim/sim_platform.h"
#include "sim/stick/usb_stick.h"
#include "sim/vat/mask.h"

namespace sim::control {
namespace {

// Names of the numbers a person reads off the state.
const char* windowName(int id) {
    static const char* const kNames[] = {
        "home",     "file",        "preview", "preview more", "parameter edit", "parameter save",
        "printing", "setting",     "move",    "UV light",     "UV intensity",   "UV intensity 2",
        "about",    "information", "update",  "test"};
    return id >= 0 && id < 16 ? kNames[id] : "?";
}

const char* printStatusName(int status) {
    switch (status) {
        case 0: return "idle";
        case PRINT_PRE: return "preparing";
        case PRINT_RUNNING: return "running";
        case PRINT_TEMP_PAUSED: return "paused hot";
        case PRINT_TEMP_PAUSING: return "pausing hot";
        case PRINT_PAUSED: return "paused";
        case PRINT_PAUSING: return "pausing";
        case PRINT_CANCELED: return "cancelled";
        case PRINT_FINISHED: return "finished";
        case PRINT_END: return "ended";
        case PRINT_DATA_ERROR: return "data error";
        case PRINT_TEMP_ERROR: return "temperature error";
        default: return "?";
    }
}

const char* requestName(int button) {
    switch (button) {
        case rOPER_RESUME: return "resume";
        case rOPER_PAUSE: return "pause";
        case rOPER_TEMPPAUSE: return "temperature pause";
        case rOPER_CANCEL: return "cancel";
        case rOPER_NONE: return "none";
        default: return "";  // not a request: the slot's start value
    }
}

}  // namespace

std::vector<std::string> listedNames(bool utf8) {
    const int count = usb_file_count.load();
    std::vector<std::string> names = fileNameListCopy(count <= FILE_NAME_SLOTS ? count : 0);
    if (utf8) {
        for (std::string& n : names) n = logTextAsUtf8(n);
    }
    return names;
}

int findListed(const std::string& name, std::string& raw) {
    const std::vector<std::string> names = listedNames(false);
    for (bool decoded : {false, true}) {
        for (size_t i = 0; i < names.size(); ++i) {
            if ((decoded ? logTextAsUtf8(names[i]) : names[i]) != name) continue;
            raw = names[i];
            return static_cast<int>(i);
        }
    }
    return -1;
}

const std::vector<StateField>& stateFields() {
    static const std::vector<StateField> fields{
        {"sim_time_ms", [] { return json(nowMs()); }},
        {"main_loop_passes", [] { return json(main_loop_passes.load()); }},
        {"current_window_ID", [] { return json(current_window_ID.load()); }},
        {"current_window_name", [] { return json(windowName(current_window_ID.load())); }},
        {"next_window_ID", [] { return json(next_window_ID.load()); }},
        {"change_window", [] { return json(change_window.load()); }},
        {"print_status", [] { return json(getPrintStatus()); }},
        {"print_status_name", [] { return json(printStatusName(getPrintStatus())); }},
        {"is_printing_true", [] { return json(is_printing_true.load()); }},
        {"creat_print_pthread", [] { return json(creat_print_pthread.load()); }},
        {"current_button", [] { return json(getCurrentButton()); }},
        {"current_button_name", [] { return json(requestName(getCurrentButton())); }},
        {"current_temperature", [] { return json(current_temperature.load()); }},
        {"checkTemperature", [] { return json(checkTemperature()); }},
        {"pravik3dprinter",
         [] {
             return json{{"led_temperature", pravik3dprinter.led_temperature.load()},
                         {"ok_value", pravik3dprinter.ok_value.load()},
                         {"mv_value", pravik3dprinter.mv_value.load()},
                         {"rpm_value", pravik3dprinter.rpm_value.load()},
                         {"zmin_state", pravik3dprinter.zmin_state.load()},
                         {"zmax_state", pravik3dprinter.zmax_state.load()},
                         {"t_value", pravik3dprinter.t_value.load()}};
         }},
        {"serial_port_open", [] { return json(s_fd.load() != -1); }},
        {"tp_pixlcd",
         [] {
             return json{{"x", tp_pixlcd.x.load()}, {"y", tp_pixlcd.y.load()}};
         }},
        {"tp_pixad",
         [] {
             return json{{"x", tp_pixad.x.load()}, {"y", tp_pixad.y.load()}};
         }},
        {"panel_on", [] { return json(panelChip().displayOn()); }},
        {"pen_down", [] { return json(touchChip().pressed()); }},
        {"spi_select_faults", [] { return json(spiSelectFaults()); }},
        {"USB_detected", [] { return json(USB_detected.load()); }},
        {"usb_file_count", [] { return json(usb_file_count.load()); }},
        {"isUsbConnected", [] { return json(isUsbConnected.load()); }},
        {"s_ishotplug", [] { return json(s_ishotplug.load()); }},
        {"s_isMounted", [] { return json(s_isMounted.load()); }},
        {"print_times", [] { return json(file_information.print_times.load()); }},
        {"current_layer", [] { return json(file_information.current_layer.load()); }},
        {"total_layer", [] { return json(file_information.total_layer.load()); }},
        {"light_on", [] { return json(file_information.light_on.load()); }},
        {"material_test", [] { return json(material_test.load()); }},
        {"Remaining_hours", [] { return json(Remaining_hours.load()); }},
        {"Remaining_minutes", [] { return json(Remaining_minutes.load()); }},
        {"cp_time_hours", [] { return json(cp_time_hours.load()); }},
        {"usb_stick_changes", [] { return json(usb_stick_changes.load()); }},
        {"readonly_violations", [] { return json(usbStick().readOnlyViolations()); }},
        {"file_name_list", [] { return json(listedNames(true)); }},
        {"preview",
         [] {
             // The file the preview read last, and the stick it read it from
             // (a usb_stick_changes count): saving and printing act on it
             // alone. Plain fields of the main thread: read while no party
             // runs.
             const PreviewFileIdentity& p = preview_file_identity;
             return json{
                 {"name", logTextAsUtf8(std::string(p.name, strnlen(p.name, sizeof p.name)))},
                 {"valid", p.valid},
                 {"stick", p.stick}};
         }},
    };
    return fields;
}

json firmwareState() {
    // All of it at one instant, between two steps of the firmware.
    json state = json::object();
    clock().inject([&] {
        for (const auto& [name, read] : stateFields()) state[name] = read();
    });
    return state;
}

double firmwareMs(int64_t us) {
    return static_cast<double>(us - VirtualClock::kStartUs) / 1000.0;
}

json clockState() {
    const ClockSettings c = clock().settings();
    return json{{"sim_time_ms", nowMs()},
                {"speed", c.speed > 0 ? json(c.speed) : json("max")},
                {"paused", c.paused},
                {"schedule", c.schedule == Schedule::Serial ? "serial" : "parallel"}};
}

json boardState(const BoardSnapshot& s) {
    return json{
        {"z", s.z},
        {"z_target", s.z_target},
        {"absolute", s.absolute},
        {"homed", s.homed},
        {"moving", s.moving},
        {"light", s.light},
        {"intensity", s.intensity},
        {"stored_intensity", s.stored_intensity},
        {"fan", s.fan},
        {"temperature", s.temperature},
        {"reported_temperature", s.reported_temperature},
        {"lines_received", s.lines_received},
        {"light_on_ms", s.light_on_ms},
        {"z_lowest", s.z_lowest},
        {"z_highest", s.z_highest},
        {"longest_light_ms", s.longest_light_ms},
        {"z_known", s.z_known},
        {"z_known_lowest", s.z_known_lowest},
        {"z_known_highest", s.z_known_highest},
        {"light_spans", s.light_spans},
        {"mask_writes", maskWrites()},
        {"usb",
         [] {
             const UsbState u = usbStick().state();
             return json{
                 {"inserted", u.inserted},       {"mounted", u.mounted}, {"read_only", u.readOnly},
                 {"unmountable", u.unmountable}, {"dir", u.dir},         {"volume", u.volume}};
         }()},
        {"faults",
         {{"silent", s.faults.silent},
          {"noisy", s.faults.noisy},
          {"slow_ms", s.faults.slow_ms},
          {"sensor_failure", s.faults.sensor_failure},
          {"return_short_um", std::lround(s.faults.return_short_mm * 1000)}}},
    };
}

}  // namespace sim::control
