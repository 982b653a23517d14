// The four camera models as the emulator presents them: USB identity, sensor size, the pixel
// array around the active area, and what the board firmware offers (trigger value, sensor
// read-back, clock choice, firmware version).
#pragma once

#include <cstdint>
#include <string_view>

namespace sim::camera {

enum class Model : uint8_t { Tern, Heron, Plover, Egret };

struct ModelInfo {
    Model model;
    const char* name; // lower case, as tools spell it
    uint16_t vendorId;
    uint16_t productId;
    uint16_t deviceRelease = 0x0100; // bcdDevice

    // Active area: the part of the pixel array that sees the scene.
    int sensorWidth;
    int sensorHeight;
    // The whole pixel array (active area plus a dark margin on every side). The crop registers
    // of Heron and Egret count from the array's far edge, so the margins are part of their
    // coordinate system.
    int arrayWidth;
    int arrayHeight;
    int marginX = 0; // columns of margin left and right of the active area
    int marginY = 0; // rows of margin above and below it

    uint32_t sensorRegisterCount; // addresses the sensor decodes
    uint8_t triggerOn;            // board register 11 value that arms the trigger input
    int basePhase;                // Bayer phase of the active area's top-left pixel

    // The firmware answers CMD_SENSOR_READ and passes CMD_SENSOR_CONTROL to the sensor; other
    // boards ignore both.
    bool hasSensorRead = false;
    // The host may choose the pixel clock (board register 15); elsewhere it is fixed.
    bool clockSelectable = false;
    // Board registers 29 (high) to 31 hold this 24-bit firmware version from power-on and the
    // host cannot write them; without one they are plain registers starting at 0.
    bool hasFirmwareVersion = false;
    uint32_t firmwareVersion = 0;
};

const ModelInfo& Info(Model model);

// Accepts the model names of ModelInfo::name; false for anything else.
bool ParseModel(std::string_view text, Model& model);

} // namespace sim::camera
