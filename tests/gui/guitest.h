#pragma once
// Helpers of the GUI tests: an application object for the whole run and waiting on events.
#include <functional>

namespace guitest {
// Processes events until `done` holds or `milliseconds` pass; answers `done`.
bool WaitUntil(const std::function<bool()>& done, int milliseconds = 5000);
}  // namespace guitest
