// The program that shows the toolkit's demo screen in the real window.
#ifndef GUI_CHECK_H
#define GUI_CHECK_H

#include <string>

namespace gui_check {

// Reports that the window now shows the frame written to `path`, and when
// screenshots are awaited, waits (framework thread) until `path`.taken exists.
void frame_shown(const std::string &path);

}  // namespace gui_check

#endif
