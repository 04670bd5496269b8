#pragma once
// From process start to the first window: the banner, the application's identity (window
// class and desktop file name "Kestrel"), its icon and font, then the modal main window or
// station window.

#include <string_view>

#include "app/window_command_line.h"

class QApplication;

namespace kestrel {

// The window title while no run goes on, and the version line of the About box.
inline constexpr std::string_view g_strBanner = "Kestrel.[pkt size:0x400].RV42(Meridian LAB)";

// The program's icon, also installed for the desktop.
inline constexpr std::string_view kIconResource = ":/icons/kestrel.svg";

// Names the application and gives it its icon and a font with Korean glyphs.
void InitApplication(QApplication& app);

// Runs the window until it is closed.
void InitInstance(EStartWindow eWindow);

}  // namespace kestrel
