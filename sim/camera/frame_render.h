// Rendering a raw frame from the scene through a FrameGeometry: the picture the sensor window
// sees, read out in the programmed direction, sampled through the colour filter.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/camera/frame_geometry.h"
#include "sim/imaging/rgb_image.h"

namespace sim::camera {

// The picture in read-out order before the colour filter: width × lines RGB pixels, pixel
// (i, j) being sample i of line j. With sub-sampling each pixel is the mean of its 2 × 2
// scene pixels. This is what a driver should deliver after demosaicing (before any mirroring
// of its own).
imaging::RgbImage RenderView(const imaging::RgbImage& scene, const FrameGeometry& geometry);

// The bytes of the frame before its zero padding (PictureBytes of the geometry): each line
// holds `width` filtered samples and pitch − width zero bytes.
std::vector<uint8_t> RenderPicture(const imaging::RgbImage& scene, const FrameGeometry& geometry);

// The whole frame as it travels on the data endpoint: RenderPicture followed by zeros up to
// frameBytes.
std::vector<uint8_t> RenderRawFrame(const imaging::RgbImage& scene, const FrameGeometry& geometry);

} // namespace sim::camera
