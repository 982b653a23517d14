#include "camera_wire.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/camera/usb_descriptors.h"

namespace camera_test {

using namespace sim::camera;

CameraOptions Unpaced() {
    CameraOptions options;
    options.frameInterval = std::chrono::nanoseconds(0);
    options.manualTime = true;
    return options;
}

std::string ModelName(const ::testing::TestParamInfo<Model>& info) {
    return Info(info.param).name;
}

void Send(Camera& camera, std::initializer_list<uint8_t> bytes) {
    Packet packet{};
    std::copy(bytes.begin(), bytes.end(), packet.begin());
    camera.Out(kCommandEndpoint, packet.data(), packet.size());
}

bool ReadAnswer(Camera& camera, Packet& packet) {
    packet.fill(0xEE);
    const auto result = camera.In(kResponseEndpoint, packet.data(), packet.size());
    return result.bytes == packet.size() && result.shortPacket;
}

uint8_t Ask(Camera& camera, std::initializer_list<uint8_t> bytes) {
    Send(camera, bytes);
    Packet first, second;
    if (!ReadAnswer(camera, first) || !ReadAnswer(camera, second)) {
        ADD_FAILURE() << "no answer";
        return 0;
    }
    return second[0];
}

void WriteBoard(Camera& camera, uint8_t reg, uint8_t value) {
    Send(camera, {CMD_BOARD_WRITE, reg, value});
}

void WriteFrameBytes(Camera& camera, uint32_t bytes) {
    for (uint8_t i = 0; i < 4; ++i) {
        WriteBoard(camera, i, static_cast<uint8_t>(bytes >> (8 * i)));
    }
}

void WriteSensor(Camera& camera, uint32_t address, uint32_t value) {
    if (camera.model() == Model::Plover) {
        Send(camera, {CMD_SENSOR_WRITE, 2, static_cast<uint8_t>(address), static_cast<uint8_t>(value)});
    } else {
        Send(camera, {CMD_SENSOR_WRITE, static_cast<uint8_t>(address >> 8),
                      static_cast<uint8_t>(address), static_cast<uint8_t>(value)});
    }
}

void RequestFrame(Camera& camera) {
    Send(camera, {CMD_FRAME_REQUEST});
    Send(camera, {CMD_FRAME_REQUEST});
    Send(camera, {CMD_READS_QUEUED});
}

FrameRead ReadData(Camera& camera, uint32_t bytes) {
    FrameRead read;
    read.bytes.resize(bytes);
    uint32_t done = 0;
    while (done < bytes) {
        const uint32_t chunk = std::min<uint32_t>(65536, bytes - done);
        const auto result = camera.In(kDataEndpoint, read.bytes.data() + done, chunk);
        if (result.bytes == 0) {
            break;
        }
        ++read.requests;
        done += static_cast<uint32_t>(result.bytes);
        read.endedShort = result.shortPacket;
        if (result.bytes < chunk) {
            break;
        }
    }
    read.bytes.resize(done);
    return read;
}

FrameRead ReadFrame(Camera& camera, uint32_t bytes) {
    RequestFrame(camera);
    return ReadData(camera, bytes);
}

uint32_t RoundUp(uint32_t count, uint32_t multiple) {
    return ((count - 1) & ~(multiple - 1)) + multiple;
}

uint32_t StartTern(Camera& camera) {
    WriteBoard(camera, 6, 17);
    WriteBoard(camera, 6, 0);
    WriteFrameBytes(camera, 1360 * 1024);
    Send(camera, {CMD_START_CONTROL, 1});
    return 1360 * 1024;
}

namespace {

void WriteWord(Camera& camera, uint32_t address, int value) {
    WriteSensor(camera, address, static_cast<uint8_t>(value));
    WriteSensor(camera, address + 1, static_cast<uint8_t>(value >> 8));
}

uint32_t FinishCropStart(Camera& camera, uint32_t frameBytes, bool flipH, bool flipV) {
    Send(camera, {CMD_SENSOR_CONTROL, 0x20, 1});
    Send(camera, {CMD_SENSOR_CONTROL, 0x60, 0});
    WriteSensor(camera, 0x208, 0);
    Send(camera, {CMD_SENSOR_CONTROL, 0x60, 1});
    WriteFrameBytes(camera, frameBytes);
    Send(camera, {CMD_START_CONTROL, 1});
    WriteBoard(camera, 14, 4);
    SetCropFlips(camera, flipH, flipV);
    return frameBytes;
}

} // namespace

uint32_t StartCropWindow(Camera& camera, Window w, bool flipH, bool flipV) {
    const bool heron = camera.model() == Model::Heron;
    const auto up4 = [](int v) { return (v + 3) & ~3; };
    const int w4 = up4(w.width), h4 = up4(w.height), x4 = up4(w.x), y4 = up4(w.y);
    const int hs = heron ? 2464 - w4 - (x4 + 8) : 2064 - w4 - (x4 + 8);
    const int vs = heron ? 2056 - h4 - (y4 + 4) : 1552 - h4 - (y4 + 8);
    WriteSensor(camera, 0x208, 1);
    WriteSensor(camera, 0x20D, 0);
    WriteWord(camera, 0x510, hs);
    WriteWord(camera, 0x512, vs);
    WriteWord(camera, 0x514, w4);
    WriteWord(camera, 0x516, h4);
    WriteSensor(camera, 0x500, 3);
    return FinishCropStart(camera, RoundUp(static_cast<uint32_t>(w.width * w.height), 1024), flipH,
                           flipV);
}

uint32_t StartCrop2x(Camera& camera, bool flipH, bool flipV) {
    const bool heron = camera.model() == Model::Heron;
    WriteSensor(camera, 0x208, 1);
    WriteSensor(camera, 0x20D, 17);
    WriteSensor(camera, 0x500, 0);
    const uint32_t pitch = heron ? 1232 : 1032;
    const uint32_t lines = heron ? 1024 : 768;
    return FinishCropStart(camera, RoundUp(pitch * lines, 1024), flipH, flipV);
}

void SetCropFlips(Camera& camera, bool flipH, bool flipV) {
    WriteSensor(camera, 0x20E, (1 - flipH) * 2 + (1 - flipV));
}

uint32_t StartPlover(Camera& camera, Window w) {
    WriteSensor(camera, 126, ((w.width + 72) * 16) & 0xFF);
    WriteSensor(camera, 127, ((w.width + 328) / 16) & 0xFF);
    WriteSensor(camera, 25, w.width & 0xFF);
    WriteSensor(camera, 26, ((w.height * 16) & 0xFF) | ((w.width >> 8) & 7));
    WriteSensor(camera, 27, (w.height / 16) & 0x7F);
    WriteSensor(camera, 22, w.x & 0xFF);
    WriteSensor(camera, 23, ((w.y * 16) & 0xFF) | ((w.x >> 8) & 7));
    WriteSensor(camera, 24, (w.y / 16) & 0x7F);
    const uint32_t bytes = RoundUp(static_cast<uint32_t>(w.width * w.height), 2048);
    WriteFrameBytes(camera, bytes);
    Send(camera, {CMD_START_CONTROL, 1});
    return bytes;
}

int DriverPhase(Window w, bool flipH, bool flipV) {
    int phase = 1;
    if (w.y & 1) {
        phase ^= 1;
    }
    if (flipV && w.height % 2 == 0) {
        phase ^= 1;
    }
    if (flipH && w.width % 2 == 0) {
        phase = (phase + 2) % 4;
    }
    return phase;
}

} // namespace camera_test
