// How zyn-capture ends on a problem the user can act on.
#pragma once

#include "tools/common/tool_failure.h"

namespace zyn::capture {

using Failure = zyn::tools::Failure;

} // namespace zyn::capture
