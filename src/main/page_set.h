#pragma once
#include "app/main_page.h"

namespace servo_main {

// The program's three pages: status, parameters, scope.
app::PageSet makePages(app::AppContext& context);

}  // namespace servo_main
