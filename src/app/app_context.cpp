#include "app/app_context.h"

#include "ui/backend.h"

namespace app {

bool linkUsable(const AppContext& context) {
    if (context.session.healthy()) return true;
    ui::messageBox(context.uiText(68, u"通信未连接或通讯异常，请确认驱动器通信连接正常后再试！"),
                   context.uiText(67, u"Error"), ui::MessageIcon::Error);
    return false;
}

}  // namespace app
