#include "sim/camera/usb_descriptors.h"

namespace sim::camera {
namespace {

void PutWord(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutBulkEndpoint(std::vector<uint8_t>& out, uint8_t address) {
    out.insert(out.end(), {7, 0x05 /* ENDPOINT */, address, 0x02 /* bulk */});
    PutWord(out, kBulkPacketSize);
    out.push_back(0); // bInterval: bulk endpoints never NAK-limit
}

} // namespace

std::vector<uint8_t> BuildDeviceDescriptor(const ModelInfo& info) {
    std::vector<uint8_t> d = {18, 0x01 /* DEVICE */};
    // All 18 bytes at once: growing it inside insert() makes GCC 12 at -O3 report a read
    // past the end of the moved bytes that cannot happen.
    d.reserve(18);
    PutWord(d, 0x0200);                   // bcdUSB 2.0
    d.insert(d.end(), {0x00, 0x00, 0x00}); // class given per interface
    d.push_back(64);                      // bMaxPacketSize0
    PutWord(d, info.vendorId);
    PutWord(d, info.productId);
    PutWord(d, info.deviceRelease);
    d.insert(d.end(), {0, 0, 0}); // no string descriptors
    d.push_back(1);               // bNumConfigurations
    return d;
}

std::vector<uint8_t> BuildConfigurationDescriptor() {
    constexpr uint16_t kTotal = 9 + 9 + 3 * 7;
    std::vector<uint8_t> d = {9, 0x02 /* CONFIGURATION */};
    PutWord(d, kTotal);
    d.push_back(1);    // bNumInterfaces
    d.push_back(1);    // bConfigurationValue
    d.push_back(0);    // iConfiguration
    d.push_back(0x80); // bus powered
    d.push_back(250);  // 500 mA
    // Interface 0, alternate setting 0, vendor specific.
    d.insert(d.end(), {9, 0x04 /* INTERFACE */, 0, 0, 3, 0xFF, 0x00, 0x00, 0});
    PutBulkEndpoint(d, kCommandEndpoint);
    PutBulkEndpoint(d, kResponseEndpoint);
    PutBulkEndpoint(d, kDataEndpoint);
    return d;
}

} // namespace sim::camera
