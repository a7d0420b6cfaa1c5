#pragma once
// Everything the console shows or asks: implemented by the Qt window, by kyrctl and by a
// recording fake in tests.

#include <string>

#include "files/file_dialog.h"
#include "image/picture.h"

namespace kyr {

class Ui {
public:
    virtual ~Ui() = default;

    // Status line PCtext: every message replaces the previous text.
    virtual void setStatusText(const std::string& text) = 0;
    virtual void repaintStatus() = 0;
    // The device display mirror KYRText.
    virtual void setDisplayText(const std::string& text) = 0;
    virtual void repaintDisplay() = 0;
    // The "Image Information" panel headertxt, replaced as a whole.
    virtual void setHeaderText(const std::string& text) = 0;
    // The picture area: a whole new bitmap.
    virtual void showPicture(const Picture& picture) = 0;
    virtual void setMousePointer(MousePointer pointer) = 0;
    // The Turbo key's face: green while on, red while off.
    virtual void setTurboFace(bool on) = 0;
    // Progress of a long transfer (rows of an image, pages of an upload); maximum 0 hides it.
    virtual void setProgress(int value, int maximum) = 0;

    // Modal message box with an OK button.
    virtual void showMessage(const std::string& text) = 0;
    // Modal text prompt; returns "" when the user cancels.
    virtual std::string prompt(const std::string& text, const std::string& title,
                               const std::string& defaultAnswer) = 0;
    // Modal open/save dialog; returns the chosen full name unchanged, or "" on cancel.
    virtual std::string runFileDialog(const FileDialogRequest& request) = 0;
    // How the status text of a lost line goes on: the window's menu item by default; a front
    // end without it tells its own way back.
    virtual std::string lostLineAdvice() const { return " - use Establish Link to reconnect"; }
    // The modal "Adjust Background and Range" dialog, filled with the given texts; returns
    // when it is hidden, with the texts as the user left them.
    virtual void showContrastDialog(std::string& background, std::string& range) = 0;
};

// Shows nothing and answers every question with "" (cancel): front ends without a window
// override only what they show or answer.
class QuietUi : public Ui {
public:
    void setStatusText(const std::string&) override {}
    void repaintStatus() override {}
    void setDisplayText(const std::string&) override {}
    void repaintDisplay() override {}
    void setHeaderText(const std::string&) override {}
    void showPicture(const Picture&) override {}
    void setMousePointer(MousePointer) override {}
    void setTurboFace(bool) override {}
    void setProgress(int, int) override {}
    void showMessage(const std::string&) override {}
    std::string prompt(const std::string&, const std::string&, const std::string&) override {
        return {};
    }
    std::string runFileDialog(const FileDialogRequest&) override { return {}; }
    void showContrastDialog(std::string&, std::string&) override {}
};

}  // namespace kyr
