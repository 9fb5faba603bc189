#pragma once
// The GDI gauge as screen readers see it (Active Accessibility): a progress bar named
// "Progress" whose value is its percentage, "42 %". Its window answers WM_GETOBJECT with it,
// and tells of each new percentage with EVENT_OBJECT_VALUECHANGE.

#include <string>
#include <windows.h>

namespace orv {

// The answer to WM_GETOBJECT for the client area of a gauge's window, whose value `value`
// gives while the window lives. Anything the gauge does not say itself (its place, its parent,
// its state) comes from the system's standard object of the window. 0 for other objects, which
// the system answers itself.
LRESULT AnswerGaugeObject(HWND window, WPARAM wParam, LPARAM lParam,
                          std::string (*value)(HWND window));

} // namespace orv
