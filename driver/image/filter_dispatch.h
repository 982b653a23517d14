// The capture filter's dispatch: each filter keeps its KSFILTER as its context, and closing a
// filter saves the camera's settings.
#pragma once

#include "driver/wdk.h"

namespace zyn {

NTSTATUS FilterCreate(PKSFILTER filter, PIRP irp);
// Always succeeds; a settings save that fails is not reported.
NTSTATUS FilterClose(PKSFILTER filter, PIRP irp);

extern const KSFILTER_DISPATCH kFilterDispatch;

} // namespace zyn
