#include "app/link_text.h"

#include <cstdio>

#include "platform/text.h"

namespace app {
namespace {

std::u16string number(long long n) {
    return platform::fromUtf8(std::to_string(n));
}

std::u16string exceptionZh(std::uint8_t code) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%02u", static_cast<unsigned>(code));
    std::u16string text = u"异常码 " + platform::fromUtf8(digits);
    switch (code) {
        case 1:
            return text + u"（非法功能）";
        case 2:
            return text + u"（非法数据地址）";
        case 3:
            return text + u"（非法数据值）";
        case 4:
            return text + u"（从站设备故障）";
        case 6:
            return text + u"（从站设备忙）";
        default:
            return text;
    }
}

std::u16string withDetail(std::u16string text, const std::string& detail) {
    if (!detail.empty()) text += u"：" + platform::fromUtf8(detail);
    return text;
}

}  // namespace

std::u16string linkCause(const AppContext& context, const drive::Result& r) {
    if (context.englishTexts) return platform::fromUtf8(r.cause());
    using drive::Error;
    switch (r.error) {
        case Error::noAnswer: {
            const unsigned tries = r.attempts == 0 ? 1u : r.attempts;
            return u"站号 " + number(r.station) + u" 无应答（共 " + number(tries) + u" 次，每次 " +
                   number(r.timeoutMs) + u" ms）";
        }
        case Error::writeUnconfirmed:
            return u"写入无应答：驱动器可能已执行，请读回确认";
        case Error::refused:
            return u"驱动器拒绝请求：" + exceptionZh(r.exceptionCode);
        case Error::badChecksum:
            return u"应答校验错误";
        case Error::wrongStation:
            return u"应答来自其他站号（应为 " + number(r.station) + u"）";
        case Error::malformed:
            return withDetail(u"应答格式错误", r.detail);
        case Error::mismatch:
            return u"应答与请求不符";
        case Error::portFailure:
            return withDetail(u"串口故障", r.detail);
        case Error::portUnavailable:
            return withDetail(u"无法打开串口", r.detail);
        case Error::notConnected:
        case Error::channelUnavailable:
            return u"串口已关闭";
        default:
            return platform::fromUtf8(r.cause());
    }
}

std::u16string portName(const drive::LinkSnapshot& link) {
    std::u16string name = u"COM" + number(link.settings.channel + 1);
    if (!link.device.empty()) name += u" (" + platform::fromUtf8(link.device) + u")";
    return name;
}

}  // namespace app
