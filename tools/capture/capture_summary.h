// What zyn-capture prints when the capture is over.
#pragma once

#include <vector>

#include "tools/capture/camera_capture.h"

namespace zyn::capture {

// The summary of a capture from one camera.
void PrintSummary(const Options& options, const CameraResult& result);
// The summary of a capture from several cameras: each camera's counts, then the totals.
void PrintSummary(const Options& options, const std::vector<CameraPlan>& plans,
                  const std::vector<CameraResult>& results);

} // namespace zyn::capture
