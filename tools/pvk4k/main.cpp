// pvk4k: inspect, check, render, create and edit the printer's print files.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "commands.h"

int main(int argc, char** argv) {
    CLI::App app{
        "pvk4k - the print files of the Velmor 4K resin printer (.pvk4k): read them as the\n"
        "printer does, render their layers, make them from images and change their parameters.\n"
        "'pvk4k COMMAND --help' shows a command's options."};
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", "pvk4k " VELMOR_VERSION);

    std::string file;
    bool json = false;
    CLI::App* info = app.add_subcommand(
        "info",
        "Every header field, the layer buffer, the printer's print-time estimate and its "
        "verdict at preview");
    info->add_option("FILE", file, "Print file")->required();
    info->add_flag("--json", json, "One JSON object with the same keys");

    CLI::App* check = app.add_subcommand(
        "check", "Read every layer record as the printer would; exit 0 only if it prints cleanly");
    check->add_option("FILE", file, "Print file")->required();

    pvk4k::RenderOptions render;
    CLI::App* renderCmd = app.add_subcommand(
        "render", "The mask after a layer (2160 x 3840 RGB PNG or raw frame) or the thumbnail");
    renderCmd->add_option("FILE", render.file, "Print file")->required();
    CLI::Option* layer = renderCmd->add_option(
        "--layer", render.layer,
        "Layer number, from 1; layers 1..N are decoded in turn since a layer that does not "
        "cover the frame leaves the rest as it was");
    CLI::Option* thumb =
        renderCmd->add_flag("--thumbnail", render.thumbnail, "The preview picture instead");
    CLI::Option* png = renderCmd->add_option("-o,--output", render.png, "PNG to write");
    CLI::Option* raw =
        renderCmd->add_option("--raw", render.raw, "Write the 24,883,200 frame bytes instead");
    layer->excludes(thumb);
    raw->excludes(thumb);

    pvk4k::CreateOptions create;
    CLI::App* createCmd = app.add_subcommand(
        "create",
        "Make a print file from layer images (6480 x 3840 greyscale or 2160 x 3840 RGB "
        "PNG), first layer first");
    createCmd->add_option("-o,--output", create.output, "Print file to write")->required();
    createCmd
        ->add_option("--param", create.params,
                     "NAME=VALUE for a parameter field (ZThick, curing_time, burnin_time, "
                     "stable_time, b_stable_time, burnin_range, lift_distance1, lift_distance2, "
                     "lift_speed1, lift_speed2, drop_speed, buffer_width, buffer_height)")
        ->allow_extra_args(false);
    createCmd->add_option("--thumbnail", create.thumbnail,
                          "Preview picture, any PNG of at most 18,000 pixels (default: drawn "
                          "from the layers, 150 x 120)");
    createCmd->add_option("LAYER", create.layers, "Layer images")->required();
    createCmd->add_flag("--force", create.force,
                        "Write the file even if the printer will refuse it (exit 0 with the "
                        "warning)");
    createCmd->footer(
        "Defaults: ZThick=0.05 curing_time=8000 burnin_time=30000 stable_time=1000\n"
        "b_stable_time=1000 burnin_range=0.25 lift_distance1=5 lift_speed1=60 lift_distance2=2\n"
        "lift_speed2=120 drop_speed=150 buffer_width=2160 buffer_height=3840. Without a\n"
        "buffer size given, buffer_height grows until the largest layer's code fits.\n"
        "Grey values are rounded to the 16 levels (multiples of 17).\n"
        "A file the printer would refuse (values outside the machine's limits, a layer\n"
        "larger than the layer buffer given) is not written and the exit status is 1,\n"
        "unless --force is given.");

    pvk4k::ModelOptions model;
    CLI::App* modelCmd = app.add_subcommand(
        "model",
        "The part the file describes, on the simulator's cells (8 x 8 pixels), without printing "
        "it: layers, height, volume, extent; -o writes it as STL");
    modelCmd->add_option("FILE", model.file, "Print file")->required();
    modelCmd->add_flag("--json", model.json, "One JSON object with the same keys");
    modelCmd->add_option("-o,--output", model.stl, "STL file to write (binary)");
    modelCmd->footer(
        "A cell is solid when the mean of its values is at least half the full value. The\n"
        "simulator holds a printed part against this model (GET /api/part?file=NAME).");

    pvk4k::SimulateOptions simulate;
    CLI::App* simulateCmd = app.add_subcommand(
        "simulate",
        "The printer's own firmware prints the file in printer-sim, headless, on virtual time: "
        "its verdict, the job's time against the panel's estimate, the exposures, Z, the part");
    simulateCmd->add_option("FILE", simulate.file, "Print file")->required();
    simulateCmd->add_flag("--json", simulate.json, "One JSON object");
    simulateCmd
        ->add_option("--resin-dp", simulate.resinDp,
                     "The resin's depth of penetration, mm (default 0.12)")
        ->check(CLI::Range(0.001, 10.0));
    simulateCmd
        ->add_option("--resin-ec", simulate.resinEc,
                     "The resin's critical energy, mJ/cm2 (default 8)")
        ->check(CLI::Range(0.01, 10000.0));
    simulateCmd
        ->add_option("--irradiance", simulate.irradiance,
                     "UV irradiance at the film at full intensity, mW/cm2 (default 3)")
        ->check(CLI::Range(0.01, 1000.0));
    simulateCmd->footer(
        "Exit status: 0 the file prints as it says and the part equals it with nothing left\n"
        "on the film; 1 otherwise, each reason a line; 2 bad arguments.\n"
        "It starts the printer-sim beside pvk4k (or $VELMOR_PRINTER_SIM).");

    pvk4k::SetOptions set;
    CLI::App* setCmd = app.add_subcommand(
        "set", "Change parameters in place (bytes 8..179 only); bottom_layers follows");
    setCmd->add_option("FILE", set.file, "Print file")->required();
    setCmd->add_option("NAME=VALUE", set.assignments, "Parameters to set")->required();
    setCmd->add_flag("--force", set.force,
                     "Write the change even if the printer will refuse the file (exit 0 with "
                     "the warning)");
    setCmd->footer(
        "Names as in 'pvk4k info'. layer_count and the thumbnail size follow the file's\n"
        "contents and cannot be set. The printer raises values below the panel's minimum\n"
        "when it reads the file; pvk4k warns about them. A change after which the printer\n"
        "would refuse the file (a value outside the machine's limits, a layer buffer\n"
        "smaller than the largest layer) is not written and the exit status is 1, unless\n"
        "--force is given.");

    app.footer(
        "Exit status: 0 fine; 1 the printer would refuse the file or not print it cleanly\n"
        "(create and set then write nothing, unless --force); 2 bad arguments, unreadable\n"
        "input or output that could not be written.\n\n"
        "Examples:\n"
        "  pvk4k info part.pvk4k\n"
        "  pvk4k check part.pvk4k\n"
        "  pvk4k render part.pvk4k --layer 12 -o layer12.png\n"
        "  pvk4k create -o part.pvk4k --param ZThick=0.05 layer-001.png layer-002.png "
        "layer-003.png\n"
        "  pvk4k model part.pvk4k -o part.stl\n"
        "  pvk4k set part.pvk4k curing_time=7500 burnin_range=0.3");

    try {
        app.parse(argc, argv);
        if (renderCmd->parsed()) {
            if (!render.thumbnail && layer->count() == 0) {
                throw CLI::ValidationError("render", "give --layer N or --thumbnail");
            }
            if (png->count() == 0 && raw->count() == 0) {
                throw CLI::ValidationError("render", "give -o OUT.png or --raw OUT");
            }
        }
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : pvk4k::EXIT_ERROR;
    }

    if (app.get_subcommands().empty()) {  // bare: what it can do
        std::cout << app.help();
        return pvk4k::EXIT_ERROR;
    }
    const pvk4k::Console con{std::cout, std::cerr, isatty(STDERR_FILENO) != 0};
    if (info->parsed()) return pvk4k::infoCommand(file, json, con);
    if (check->parsed()) return pvk4k::checkCommand(file, con);
    if (renderCmd->parsed()) return pvk4k::renderCommand(render, con);
    if (createCmd->parsed()) return pvk4k::createCommand(create, con);
    if (modelCmd->parsed()) return pvk4k::modelCommand(model, con);
    if (setCmd->parsed()) return pvk4k::setCommand(set, con);
    if (simulateCmd->parsed()) return pvk4k::simulateCommand(simulate, con);
    return pvk4k::EXIT_ERROR;
}
