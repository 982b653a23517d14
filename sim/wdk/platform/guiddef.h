// The platform header that declares GUID, as the simulated platform provides it: public headers
// include <guiddef.h> in every build and, here, get the simulated platform's GUID.
#pragma once

#include "sim/wdk/wdk_types.h"
