#include "sim/camera/frame_render.h"

#include <algorithm>

#include "sim/imaging/bayer.h"

namespace sim::camera {
namespace {

// Maps read-out positions to the scene: sample i of line j covers the scene pixels from
// (SceneX(i), SceneY(j)) over subSample × subSample.
class Readout {
public:
    Readout(const imaging::RgbImage& scene, const FrameGeometry& g) : scene_(scene), g_(g) {
        litColumns_ = g.windowWidth / g.subSample;
        litLines_ = g.windowHeight / g.subSample;
    }

    // The scene's colour of sample (i, j), black where the window leaves the scene.
    void Pixel(int i, int j, uint8_t rgb[3]) const {
        const int u = g_.mirrored ? g_.width - 1 - i : i;
        const int v = g_.flipped ? g_.lines - 1 - j : j;
        rgb[0] = rgb[1] = rgb[2] = 0;
        if (u >= litColumns_ || v >= litLines_) {
            return;
        }
        const int s = g_.subSample;
        const int x0 = g_.windowX + u * s;
        const int y0 = g_.windowY + v * s;
        unsigned sum[3] = {0, 0, 0};
        for (int dy = 0; dy < s; ++dy) {
            for (int dx = 0; dx < s; ++dx) {
                const int x = x0 + dx;
                const int y = y0 + dy;
                if (x < 0 || y < 0 || x >= scene_.width || y >= scene_.height) {
                    continue;
                }
                const uint8_t* p = scene_.At(x, y);
                sum[0] += p[0];
                sum[1] += p[1];
                sum[2] += p[2];
            }
        }
        const unsigned n = static_cast<unsigned>(s * s);
        for (int c = 0; c < 3; ++c) {
            rgb[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
        }
    }

private:
    const imaging::RgbImage& scene_;
    const FrameGeometry& g_;
    int litColumns_;
    int litLines_;
};

bool Renderable(const FrameGeometry& g) {
    return g.width > 0 && g.lines > 0 && g.pitch >= g.width &&
           (g.subSample == 1 || g.subSample == 2);
}

} // namespace

imaging::RgbImage RenderView(const imaging::RgbImage& scene, const FrameGeometry& geometry) {
    if (!Renderable(geometry)) {
        return {};
    }
    imaging::RgbImage view(geometry.width, geometry.lines);
    const Readout readout(scene, geometry);
    for (int j = 0; j < geometry.lines; ++j) {
        for (int i = 0; i < geometry.width; ++i) {
            readout.Pixel(i, j, view.At(i, j));
        }
    }
    return view;
}

std::vector<uint8_t> RenderPicture(const imaging::RgbImage& scene, const FrameGeometry& geometry) {
    if (!Renderable(geometry)) {
        return {};
    }
    const FrameGeometry& g = geometry;
    const uint64_t total = g.PictureBytes();
    std::vector<uint8_t> out(static_cast<size_t>(total), 0);
    const Readout readout(scene, g);
    const int s = g.subSample;
    const int litColumns = g.windowWidth / s;
    const int litLines = g.windowHeight / s;
    const size_t stride = static_cast<size_t>(scene.width) * 3;
    for (int j = 0; j < g.lines; ++j) {
        const uint64_t lineStart = static_cast<uint64_t>(j) * static_cast<uint64_t>(g.pitch);
        if (lineStart >= total) {
            break;
        }
        const int v = g.flipped ? g.lines - 1 - j : j;
        const int y0 = g.windowY + v * s;
        if (v >= litLines || y0 + s <= 0 || y0 >= scene.height) {
            continue; // a dark line
        }
        const int samples = static_cast<int>(std::min<uint64_t>(g.width, total - lineStart));
        const int channel[2] = {static_cast<int>(imaging::BayerChannel(g.phase, 0, j)),
                                static_cast<int>(imaging::BayerChannel(g.phase, 1, j))};
        const bool rowsInside = y0 >= 0 && y0 + s <= scene.height;
        const uint8_t* row0 = rowsInside ? scene.At(0, y0) : nullptr;
        uint8_t* line = out.data() + lineStart;
        for (int i = 0; i < samples; ++i) {
            const int u = g.mirrored ? g.width - 1 - i : i;
            if (u >= litColumns) {
                continue;
            }
            const int x0 = g.windowX + u * s;
            const int c = channel[i & 1];
            if (!rowsInside || x0 < 0 || x0 + s > scene.width) {
                uint8_t rgb[3];
                readout.Pixel(i, j, rgb); // partly outside the scene
                line[i] = rgb[c];
            } else if (s == 1) {
                line[i] = row0[static_cast<size_t>(x0) * 3 + c];
            } else {
                const uint8_t* p = row0 + static_cast<size_t>(x0) * 3 + c;
                const unsigned sum = p[0] + p[3] + p[stride] + p[stride + 3];
                line[i] = static_cast<uint8_t>((sum + 2) / 4);
            }
        }
    }
    return out;
}

std::vector<uint8_t> RenderRawFrame(const imaging::RgbImage& scene, const FrameGeometry& geometry) {
    std::vector<uint8_t> frame = RenderPicture(scene, geometry);
    frame.resize(geometry.frameBytes, 0);
    return frame;
}

} // namespace sim::camera
