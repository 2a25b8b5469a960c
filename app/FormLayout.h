#pragma once

class QWidget;

namespace vx::app {

// Builds every control of the station window from one table: name, kind,
// parent, position and size (pixels at 96 dpi), caption or initial text,
// font and initial state. Behaviour is wired by TForm1.
void buildStationForm(QWidget* window);

} // namespace vx::app
