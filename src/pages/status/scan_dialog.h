#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "drive/jobs.h"
#include "drive/scan.h"
#include "ui/dialog.h"

namespace pages {

// The bus scan (template 140): the plan as texts (ports, baud rates,
// parities, stations, time-out), Start/Stop, progress, and the drives found
// as they are found. "Use" ends the dialog with the chosen drive.
//
// Threads: the scan runs on the dialog's own job runner (it never uses the
// program's drive session) and reports through the dialog's post. Closing
// while it runs asks it to stop and closes when it has, so that the user
// interface thread never waits for the line.
class ScanDialog : public ui::Dialog {
  public:
    static constexpr int kPorts = 1201;
    static constexpr int kBauds = 1202;
    static constexpr int kParities = 1203;
    static constexpr int kStations = 1204;
    static constexpr int kTimeout = 1205;
    static constexpr int kStartButton = 1206;
    static constexpr int kProgress = 1207;
    static constexpr int kState = 1208;
    static constexpr int kResults = 1209;

    ScanDialog(app::AppContext& context, std::vector<std::string> ports);
    ~ScanDialog() override;

    // The drive chosen with "Use".
    const std::optional<drive::ScanHit>& chosen() const { return chosen_; }
    const std::vector<drive::ScanHit>& hits() const { return hits_; }
    bool scanning() const { return scanning_; }

  protected:
    bool onInitDialog() override;
    void onCommand(int id) override;
    void onOk() override;
    void onCancel() override;

  private:
    void start();
    void stop();
    void addHit(const drive::ScanHit& hit);
    void finished(const drive::ScanReport& report);
    std::u16string words(std::u16string_view english, std::u16string_view chinese) const {
        return std::u16string(context_.words(english, chinese));
    }

    app::AppContext& context_;
    std::vector<std::string> ports_;
    std::vector<drive::ScanHit> hits_;
    std::optional<drive::ScanHit> chosen_;
    bool scanning_ = false;
    bool closing_ = false;  // close once the scan has stopped
    // Last: joined first, before what its job uses goes.
    std::unique_ptr<drive::JobRunner> runner_;
};

}  // namespace pages
