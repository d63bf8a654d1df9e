#pragma once
#include <string>
#include <vector>

#include "ui/dialog.h"

namespace ui_test {

// A dialog that logs every handler call as text, e.g. "command 1100".
class Recorder : public ui::Dialog {
  public:
    using Dialog::Dialog;
    std::vector<std::string> log;
    ui::KeyAction keyAction = ui::KeyAction::Default;
    std::function<void(Recorder&)> onInit;
    std::function<void(Recorder&, int)> onCommandHook;

    bool has(const std::string& entry) const {
        for (const auto& e : log)
            if (e == entry) return true;
        return false;
    }

  protected:
    bool onInitDialog() override {
        log.push_back("init");
        if (onInit) onInit(*this);
        return true;
    }
    void onCommand(int id) override {
        log.push_back("command " + std::to_string(id));
        if (onCommandHook) onCommandHook(*this, id);
        Dialog::onCommand(id);
    }
    void onSelectionChange(int id) override { log.push_back("selchange " + std::to_string(id)); }
    void onListClick(int id, int row) override {
        log.push_back("listclick " + std::to_string(id) + " " + std::to_string(row));
    }
    void onListCheck(int id, int row) override {
        log.push_back("listcheck " + std::to_string(id) + " " + std::to_string(row));
    }
    void onTabClick(int id, int index) override {
        log.push_back("tabclick " + std::to_string(id) + " " + std::to_string(index));
    }
    void onTimer(int id) override { log.push_back("timer " + std::to_string(id)); }
    void onSize(ui::SizeState state, int w, int h) override {
        log.push_back("size " + std::to_string(static_cast<int>(state)) + " " + std::to_string(w) +
                      "x" + std::to_string(h));
    }
    void onDestroy() override { log.push_back("destroy " + std::to_string(templateId())); }
    void onSystemCommand(int command) override {
        log.push_back("syscommand " + std::to_string(command));
        Dialog::onSystemCommand(command);
    }
    ui::KeyAction preTranslateKey(ui::Key key) override {
        log.push_back(key == ui::Key::Enter    ? "key enter"
                      : key == ui::Key::Escape ? "key escape"
                                               : "key other");
        return keyAction;
    }
};

}  // namespace ui_test
