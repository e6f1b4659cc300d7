// The tool windows the launcher opens. The launcher knows each only by the
// maker registered for it: it creates the window with no owner, shows it
// modally and frees it when it closes.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

namespace ui {

enum class TTool { StandardRecovery, AdvancedRecovery, HealthDiagnosis };

// Makes a new window without owner. The launcher owns and frees it, so the
// window must not delete itself on closing (no Qt::WA_DeleteOnClose).
using TWindowMaker = std::function<std::unique_ptr<QWidget>()>;

// Registers (or, with an empty maker, removes) the window of a tool.
void RegisterToolWindow(TTool tool, TWindowMaker maker);
bool HasToolWindow(TTool tool);
// A new window of the tool, or null when none is registered.
std::unique_ptr<QWidget> CreateToolWindow(TTool tool);

// Shows the window modally (application-modal: the other windows are
// disabled meanwhile) and returns when it has closed. A dialog runs its own
// exec(); any other window runs a local event loop until it is hidden by a
// close (not by minimising).
int ShowModal(QWidget& window);

// Creates the window, shows it modally and frees it; does nothing when the
// maker gives no window.
void RunModal(std::unique_ptr<QWidget> window);

}  // namespace ui
