// The countdown screen of the power commands.
#include "app/main_form_win.h"

namespace qyr {

// The screen itself is not built yet: the text waits here for it.
void TMainForm::ShowPowerScreen(std::string_view text) { power_screen_text_ = text; }

}  // namespace qyr
