// zyn-scene: writes a built-in test scene as a PNG, to feed zyn-convert --mosaic.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>

#include "sim/imaging/png_file.h"
#include "sim/imaging/scenes.h"
#include "tools/common/command_line.h"

int main(int argc, char** argv) {
    int width = 1360;
    int height = 1024;
    std::string scene = "both";
    std::string output;
    CLI::App app{"Writes a built-in test scene as an RGB PNG.", "zyn-scene"};
    app.add_option("--width", width, "Width in pixels (default 1360)")->check(CLI::Range(2, 16384));
    app.add_option("--height", height, "Height in pixels (default 1024)")
        ->check(CLI::Range(2, 16384));
    app.add_option("--scene", scene, "bars, gradient, or both: bars above a gradient (default)")
        ->check(CLI::IsMember({"bars", "gradient", "both"}));
    app.add_option("OUTPUT", output, "The PNG to write")->required();
    if (const std::optional<int> exitStatus =
            zyn::tools::ParseCommandLine(app, argc, argv, "zyn-scene")) {
        return *exitStatus;
    }

    imaging::RgbImage picture;
    if (scene == "bars") {
        picture = imaging::ColorBars(width, height);
    } else if (scene == "gradient") {
        picture = imaging::Gradient(width, height);
    } else {
        const imaging::RgbImage bars = imaging::ColorBars(width, height / 2);
        const imaging::RgbImage gradient = imaging::Gradient(width, height - height / 2);
        picture = imaging::RgbImage(width, height);
        std::copy(bars.pixels.begin(), bars.pixels.end(), picture.pixels.begin());
        std::copy(gradient.pixels.begin(), gradient.pixels.end(),
                  picture.pixels.begin() + static_cast<long>(bars.pixels.size()));
    }
    std::string error;
    if (!imaging::WritePng(output, picture, error)) {
        std::fprintf(stderr, "zyn-scene: cannot write %s: %s\n", output.c_str(), error.c_str());
        return 1;
    }
    return 0;
}
