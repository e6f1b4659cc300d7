// The program: the engine units start, the launcher runs until it is
// closed, the units end. It takes no command-line arguments.
#include <QApplication>

#include "DiskUtils.h"
#include "QtPlatform.h"
#include "RecoveryFrame.h"
#include "WindowFactory.h"
#include "int13ext.h"
#include "main.h"

namespace {

// The standard engine's unit start (the program folder and the shell's type
// name for folders) and its end. The standard engine's unit brings them;
// until then the windows take the program folder from ui::AppDir.
void StartStandardEngineUnit() {}
void EndStandardEngineUnit() {}

// The tool windows the launcher opens. The recovery tools show their
// shared frame until their own windows take its place.
void RegisterToolWindows() {
    ui::RegisterToolWindow(ui::TTool::StandardRecovery,
                           [] { return std::make_unique<ui::TRecoveryFrame>(ui::TFrameKind::Standard); });
    ui::RegisterToolWindow(ui::TTool::AdvancedRecovery,
                           [] { return std::make_unique<ui::TRecoveryFrame>(ui::TFrameKind::Advanced); });
}

}  // namespace

int main(int, char** argv) {
    // Only the program's name reaches Qt: no argument changes what it does.
    int argc = 1;
    char* args[] = {argv[0], nullptr};
    // The toolkit comes first so that a unit's start-up can show its message
    // box (the 9x driver's); no window exists before the units have started.
    QApplication app(argc, args);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    ui::UseIconTheme();
    ui::InstallPlatformHooks();

    DiskUtils::Initialize();
    StartStandardEngineUnit();
    if (!int13ext::Initialize()) {
        EndStandardEngineUnit();
        DiskUtils::Finalize();
        return 1;
    }

    RegisterToolWindows();
    int result = 0;
    {
        TfrmVtMain launcher;
        frmVtMain = &launcher;
        launcher.setWindowTitle(QStringLiteral("Vantrel 2.0"));
        launcher.show();
        result = app.exec();
        frmVtMain = nullptr;
    }

    int13ext::Int13ExitProc();
    EndStandardEngineUnit();
    DiskUtils::Finalize();
    ui::RemovePlatformHooks();
    return result;
}
