// Screenshots of the windows: each window registers the states worth a
// picture; vantrel-shot shows one of them on the machine in force
// (VANTREL_MACHINE) and scripts/screenshots.sh takes the picture.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vt::shots {

struct TShot {
    std::string name;  // also the PNG's name in docs/
    std::string description;
    // Makes the window, brings it into the state and returns it (shown).
    std::function<std::unique_ptr<QWidget>()> make;
};

std::vector<TShot>& Registry();

struct TRegistrar {
    explicit TRegistrar(TShot shot) { Registry().push_back(std::move(shot)); }
};

// Runs fn once the modal dialog opened by the next call is running
// (for a target-folder dialog and the like).
void WhenModal(std::function<void(QWidget* modal)> fn);

// Makes the widget's window the active one and moves the mouse pointer onto
// the middle of the widget once the window has been laid out (after the
// screen-filling geometry), and leaves it there.
void RestOn(QWidget* widget);

}  // namespace vt::shots
