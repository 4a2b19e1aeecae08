#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "platform/SnapshotSource.h"

namespace platform {

enum class PanelField { url, title, tags };
enum class StatusColour { secondary, error };

class QuickSavePanelDelegate {
public:
    virtual ~QuickSavePanelDelegate() = default;
    virtual void panelSave() = 0;    // Return anywhere in the panel, or the Save button
    virtual void panelCancel() = 0;  // Escape anywhere in the panel, or the Cancel button
};

// A named control and its rectangle in the panel's window coordinates.
struct ControlFrame {
    std::string name;
    Rect frame;
};

// The small floating "Save to Tolvar" window: address, title and tags fields, a "Read later" check
// box, a status line and Save and Cancel buttons. Built once; closing it only hides it.
class QuickSavePanel : public SnapshotSource {
public:
    virtual std::string text(PanelField field) const = 0;
    virtual void setText(PanelField field, const std::string& text) = 0;
    virtual bool readLater() const = 0;
    virtual void setReadLater(bool on) = 0;
    virtual std::string status() const = 0;
    // Setting the status line removes its link.
    virtual void setStatus(const std::string& text, StatusColour colour) = 0;
    // A link after the status line's text that runs `action` when followed.
    virtual void setStatusLink(const std::string& label, std::function<void()> action) = 0;
    virtual std::string statusLink() const = 0;
    // Follows the link, as a click on it does; nothing when there is none.
    virtual void followStatusLink() = 0;
    virtual void setSaveEnabled(bool enabled) = 0;

    // Centres the panel on the screen, shows it above other windows, gives it the keyboard and puts
    // the focus in `focus`.
    virtual void present(PanelField focus) = 0;
    virtual void hide() = 0;
    // Moves the keyboard focus to `field` without raising the panel again.
    virtual void focus(PanelField field) = 0;
    // Runs `work` once on the main loop as soon as the panel has the keyboard focus, at once when
    // it has it already. A later call replaces the work of an earlier one.
    virtual void whenFocused(std::function<void()> work) = 0;
    virtual bool isVisible() const = 0;
    virtual bool isKey() const = 0;
    virtual bool tagsFieldHasFocus() const = 0;
    virtual Size frameSize() const = 0;

    // The area the controls must fit in, and the controls ("page", "title", "tags", "status",
    // "readLater", "cancel", "save") after layout, all in window coordinates.
    virtual Rect contentLayoutRect() const = 0;
    virtual std::vector<ControlFrame> controlFrames() const = 0;

    // One synthesized key press (down and up) through the toolkit's normal event dispatch, as if
    // typed: text reaches the focused field, Return saves and Escape cancels.
    virtual void pressKey(const std::string& character, std::uint16_t keyCode) = 0;
};

std::unique_ptr<QuickSavePanel> createQuickSavePanel(QuickSavePanelDelegate& delegate);

}  // namespace platform
