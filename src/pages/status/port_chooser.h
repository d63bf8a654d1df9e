#pragma once
#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/app_context.h"
#include "drive/scan.h"
#include "drive/session.h"
#include "platform/port_list.h"
#include "ui/dialog.h"

namespace pages {

// Why a network port text cannot be used ("" when it can): "tcp://HOST:PORT"
// (Modbus TCP) or "rtu+tcp://HOST:PORT" (RTU frames over TCP), PORT 1 to
// 65535, HOST a name, an IPv4 address or a bracketed IPv6 address. A syntax
// check only: whether the host answers is for the connect to tell.
std::string networkPortProblem(std::string_view text);

// Lists the serial ports on a thread of its own, so that a slow system
// listing never holds up the user interface thread. Requests that come
// while a listing runs are merged into one more listing.
//
// Threads: request from any thread; `deliver` runs on the lister's thread
// (it posts to the view). The destructor joins the thread.
class PortLister {
  public:
    using ListFunction = std::function<std::vector<platform::SerialPortInfo>()>;
    using DeliverFunction = std::function<void(std::vector<platform::SerialPortInfo>)>;
    PortLister(ListFunction list, DeliverFunction deliver);
    ~PortLister();
    PortLister(const PortLister&) = delete;
    PortLister& operator=(const PortLister&) = delete;

    void request();
    // Replaces the listing (tests give a fixed list) and lists again.
    void setList(ListFunction list);

  private:
    void run();

    ListFunction list_;
    DeliverFunction deliver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool requested_ = false;
    bool stop_ = false;
    std::thread thread_;  // last: started once the rest exists
};

// The status page's port list beside its COM buttons: the ports that exist
// (with their descriptions), network ports entered by the user, and
// "Network..."; a parity choice; and the Scan button with its dialog. A port
// chosen here overrides the COM buttons until a COM button is clicked again.
// The list is read again every kRefreshMs, off the user interface thread,
// and keeps the user's choice (marked as not listed while its adapter is
// unplugged, rather than silently falling back to another port).
//
// Threads: everything but the listing belongs to the user interface thread.
class PortChooser {
  public:
    static constexpr int kPortList = 1180;
    static constexpr int kParityList = 1181;
    static constexpr int kScanButton = 1182;
    static constexpr int kRefreshTimer = 1180;
    static constexpr int kRefreshMs = 2000;

    // The page's controls that a scan result fills.
    struct PageControls {
        int firstBaudButton = 0;
        std::array<std::uint32_t, 6> baudRates{};
        int stationList = 0;
        int firstPortButton = 0;  // COM1
        int portButtons = 0;
    };

    PortChooser(ui::Dialog& page, app::AppContext& context, PageControls controls,
                PortLister::ListFunction list = platform::listSerialPorts);

    // After the page's controls exist: fills the lists, starts the refresh.
    void attach();
    // Places the controls in two lines from (left, top), `width` pixels wide.
    void place(int left, int top, int width);
    void enable(bool on);
    // Handlers the page forwards.
    void onTimer(int id);
    void onSelectionChange(int id);
    // A COM button was clicked: it is the port again.
    void useComButtons();
    // The Scan button: runs the scan dialog and fills the settings from the
    // drive chosen there.
    void scan();

    // The chosen device (empty: the COM buttons) and parity into the settings.
    void apply(drive::LinkSettings& settings) const;
    // Fills the page's settings from a scan result: port (a COMn of the
    // buttons by its button), parity, baud rate and station.
    void choose(const drive::ScanHit& hit);

    const std::string& chosenDevice() const { return chosen_; }
    std::uint8_t parity() const { return parity_; }
    // The devices listed, for the scan's default ports.
    std::vector<std::string> listedDevices() const;
    // Lists with this function from now on (tests), at once and on every refresh.
    void useListing(PortLister::ListFunction list) { lister_.setList(std::move(list)); }

  private:
    enum class Kind { comButtons, device, network, askNetwork };
    struct Entry {
        Kind kind;
        std::string device;
    };

    void received(std::vector<platform::SerialPortInfo> ports);
    void rebuild();
    void askNetwork();
    void setParity(std::uint8_t parity);

    ui::Dialog& page_;
    app::AppContext& context_;
    PageControls controls_;
    std::vector<platform::SerialPortInfo> ports_;
    std::vector<std::string> networks_;  // entered this session
    std::vector<Entry> entries_;         // as the list shows them
    std::string chosen_;
    std::uint8_t parity_ = drive::kParityNone;
    bool listed_ = false;  // a listing has arrived
    // Last: its thread posts to the page until it is joined.
    PortLister lister_;
};

}  // namespace pages
