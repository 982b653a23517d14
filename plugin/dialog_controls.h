// Small helpers for the controls of the page and the colours gain dialog.
#pragma once

#include <windows.h>

#include <initializer_list>

#include "oculix_zyn_config.h"

namespace zyn {

// A setting shown by three controls that always agree: a trackbar, an edit box and an up-down
// control.
struct SliderGroup {
    int trackbar;
    int edit;
    int upDown;
};

// Reads property `id`, showing `fallback` when there is no driver or it does not answer.
LONG ReadProperty(IOculixZYNDSConfig* config, ULONG id, LONG fallback);

// The number in an edit box, read as an unsigned decimal. Text that is not a number reads as 0;
// numbers beyond the signed range read as its maximum, so that clamping treats them as large.
LONG EditNumber(HWND dialog, int id);
// Writes `value` into an edit box as an unsigned decimal.
void SetEditNumber(HWND dialog, int id, LONG value);
// Writes `value` into an edit box unless the box already reads exactly that: after a commit the
// box shows the value sent, also when the text typed was clamped or was not a number.
void RewriteEdit(HWND dialog, int id, LONG value);

void SetRange(HWND dialog, const SliderGroup& group, LONG minimum, LONG maximum);
void ShowValue(HWND dialog, const SliderGroup& group, LONG value);
// `control`, the trackbar or the up-down of `group`, moved: unless the edit box shows its
// position already, the box and the group's other control follow and the position is returned
// in `position`. Every scroll code arrives here, the closing TB_ENDTRACK too: only a real move
// returns true.
bool FollowMove(HWND dialog, const SliderGroup& group, HWND control, LONG* position);
// Shows a committed `value` in the group, rewriting the edit box only where it differs.
void ShowCommitted(HWND dialog, const SliderGroup& group, LONG value);

LONG TrackbarPosition(HWND trackbar);
void SetTrackbarPosition(HWND dialog, int id, LONG value);
LONG UpDownPosition(HWND upDown);
void SetUpDownPosition(HWND dialog, int id, LONG value);
void SetUpDownRange(HWND dialog, int id, LONG minimum, LONG maximum);

void EnableControls(HWND dialog, std::initializer_list<int> ids, bool enable);
bool IsChecked(HWND dialog, int id);
void SetChecked(HWND dialog, int id, bool checked);

} // namespace zyn
