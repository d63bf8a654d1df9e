#include "drive/link_health.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <vector>

namespace drive {

LinkHealth::LinkHealth(const modbus::TransactionLog& log, std::uint64_t windowMicros)
    : log_(log), windowMicros_(windowMicros == 0 ? 1 : windowMicros) {}

void LinkHealth::reset() {
    figures_ = LinkHealthFigures{};
    recent_.clear();
    // Records already in the log belong to earlier links.
    next_ = log_.written();
    if (const auto latest = log_.latest()) minimumLink_ = latest->link + 1;
    link_ = 0;
}

const LinkHealthFigures& LinkHealth::update(std::uint64_t nowMicros) {
    std::vector<modbus::TransactionRecord> fresh;
    next_ = log_.readSince(next_, fresh);
    auto failures = [](const modbus::TransactionCounts& c) { return c.attempts - c.good; };
    std::uint32_t failedBefore = failures(figures_.counts);
    std::uint32_t failedSeen = 0;
    for (const modbus::TransactionRecord& r : fresh) {
        if (r.link < minimumLink_) continue;
        if (r.link != link_) {
            link_ = r.link;
            figures_ = LinkHealthFigures{};
            recent_.clear();
            linkStartMicros_ = r.timeMicros;
            failedBefore = 0;
            failedSeen = 0;
        }
        figures_.any = true;
        figures_.counts = r.counts;
        if (r.failed()) {
            figures_.lastError = r;
            ++failedSeen;
        }
        recent_.push_back({r.timeMicros, r.roundTripMicros, !r.failed()});
    }
    // Failures that fell out of the ring unread: the log keeps the last.
    if (failures(figures_.counts) - failedBefore > failedSeen) {
        if (const auto e = log_.lastError(); e && e->link == link_) figures_.lastError = e;
    }
    const std::uint64_t from = nowMicros > windowMicros_ ? nowMicros - windowMicros_ : 0;
    while (!recent_.empty() && recent_.front().timeMicros < from) recent_.pop_front();

    std::vector<std::uint32_t> trips;
    trips.reserve(recent_.size());
    double sum = 0;
    for (const Sample& s : recent_) {
        if (!s.good || s.roundTripMicros == 0) continue;
        trips.push_back(s.roundTripMicros);
        sum += s.roundTripMicros;
    }
    figures_.roundTripMeanMs = trips.empty() ? 0 : sum / static_cast<double>(trips.size()) / 1000;
    if (trips.empty()) {
        figures_.roundTripP99Ms = 0;
    } else {
        // The smallest value that 99 % of the round trips do not exceed.
        const std::size_t rank = (trips.size() * 99 + 99) / 100 - 1;
        std::nth_element(trips.begin(), trips.begin() + static_cast<std::ptrdiff_t>(rank),
                         trips.end());
        figures_.roundTripP99Ms = trips[rank] / 1000.0;
    }
    // A link younger than the window is rated over its own age (at least a
    // second, so that the first attempts do not read as a burst).
    const std::uint64_t start = std::max(from, linkStartMicros_);
    const std::uint64_t span =
        std::max<std::uint64_t>(nowMicros > start ? nowMicros - start : 0,
                                std::min<std::uint64_t>(1'000'000, windowMicros_));
    figures_.transactionsPerSecond =
        static_cast<double>(recent_.size()) * 1e6 / static_cast<double>(span);
    return figures_;
}

std::u16string linkHealthSummary(const LinkHealthFigures& f, bool english) {
    if (!f.any) return {};
    const std::uint32_t errors = f.counts.attempts - f.counts.good;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.0f/s %.1f ms (p99 %.1f) %u ", f.transactionsPerSecond,
                  f.roundTripMeanMs, f.roundTripP99Ms, static_cast<unsigned>(errors));
    const std::string figures(buf);
    std::u16string out(figures.begin(), figures.end());
    out += english ? (errors == 1 ? u"error" : u"errors") : u"个错误";
    return out;
}

std::optional<LatencyHint> usbLatencyHint(const std::string& devicePath,
                                          const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    const fs::path device(devicePath);
    if (!device.is_absolute()) return std::nullopt;
    std::error_code ec;
    // A /dev/serial/by-id name is a link to the tty: resolve it inside root.
    fs::path resolved = root / device.relative_path();
    for (int hops = 0; hops < 8 && fs::is_symlink(resolved, ec); ++hops) {
        const fs::path target = fs::read_symlink(resolved, ec);
        if (ec) return std::nullopt;
        resolved = target.is_absolute() ? root / target.relative_path()
                                        : (resolved.parent_path() / target).lexically_normal();
    }
    const std::string name = resolved.filename().string();
    if (name.empty()) return std::nullopt;
    const fs::path attribute = root / "sys/class/tty" / name / "device/latency_timer";
    std::ifstream in(attribute);
    unsigned ms = 0;
    if (!(in >> ms) || ms < 16) return std::nullopt;
    LatencyHint hint;
    hint.latencyMs = ms;
    hint.attributePath = "/sys/bus/usb-serial/devices/" + name + "/latency_timer";
    hint.command = "echo 1 | sudo tee " + hint.attributePath;
    return hint;
}

}  // namespace drive
