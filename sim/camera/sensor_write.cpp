#include <algorithm>

#include "sim/camera/sensor.h"
#include "sim/camera/tern_sensor.h"

namespace sim::camera {

bool DecodeSensorWrite(Model model, const uint8_t* packet, SensorWrite& write) {
    write = {};
    switch (model) {
    case Model::Tern: {
        // A serial word shifted out least significant bit first: the sensor latches the low
        // `bits` bits, the 10-bit index below the data.
        const unsigned bits = std::min<unsigned>(packet[1], 32);
        if (bits < TernSensor::kIndexBits) {
            return false;
        }
        uint32_t word = static_cast<uint32_t>(packet[2]) | static_cast<uint32_t>(packet[3]) << 8 |
                        static_cast<uint32_t>(packet[4]) << 16 |
                        static_cast<uint32_t>(packet[5]) << 24;
        if (bits < 32) {
            word &= (uint32_t{1} << bits) - 1;
        }
        write.address = word & 0x3FF;
        write.value = (word >> TernSensor::kIndexBits) & TernSensor::DataMask(write.address);
        write.bits = static_cast<uint8_t>(packet[1]);
        return true;
    }
    case Model::Heron:
    case Model::Egret:
        write.address = static_cast<uint32_t>(packet[1]) << 8 | packet[2];
        write.value = packet[3];
        return true;
    case Model::Plover:
        if (packet[1] != 2) {
            return false;
        }
        write.address = packet[2];
        write.value = packet[3];
        return true;
    }
    return false;
}

} // namespace sim::camera
