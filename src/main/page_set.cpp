#include "main/page_set.h"

#include <memory>

#include "pages/parameters/parameter_page.h"
#include "pages/scope/scope_page.h"
#include "pages/status/status_page.h"

namespace servo_main {

app::PageSet makePages(app::AppContext& context) {
    app::PageSet set;
    set.status = std::make_unique<pages::StatusPage>(context);
    set.parameters = std::make_unique<pages::ParameterPage>(context);
    set.scope = std::make_unique<pages::ScopePage>(context);
    return set;
}

}  // namespace servo_main
