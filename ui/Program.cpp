#include "Program.h"

#include <QApplication>

#include "AdvMain.h"
#include "DiskParam.h"
#include "DiskUtils.h"
#include "QtPlatform.h"
#include "HtmlHelp.h"
#include "QuickMain.h"
#include "RecoveryFrame.h"
#include "SmartMain.h"
#include "WindowFactory.h"
#include "int13ext.h"
#include "main.h"

namespace ui {

void RegisterToolWindows() {
    RegisterToolWindow(TTool::StandardRecovery, [] { return std::make_unique<TfrmQuickMain>(); });
    RegisterToolWindow(TTool::AdvancedRecovery, [] { return std::make_unique<TfrmAdvMain>(); });
    RegisterToolWindow(TTool::HealthDiagnosis, [] { return std::make_unique<TfrmSmart>(); });
    // The health window sits below the other windows and reaches our help
    // viewer through this.
    SetSmartHelpOpener([](QWidget* owner, const std::string& chmPath, const std::string& topic) {
        HtmlHelp(owner, chmPath, topic);
    });
}

int RunProgram() {
    UseIconTheme();
    InstallPlatformHooks();

    // The units in their order: the logical-drive reader, the standard engine
    // (AppDir, and FolderTypeName through the shell-type hook installed
    // above), the physical-drive reader.
    DiskUtils::Initialize();
    DiskParam::Initialize();
    if (!int13ext::Initialize()) {
        DiskUtils::Finalize();
        RemovePlatformHooks();
        return 1;
    }

    RegisterToolWindows();
    int result = 0;
    {
        TfrmVtMain launcher;
        frmVtMain = &launcher;
        launcher.setWindowTitle(QStringLiteral("Vantrel 2.0"));
        launcher.show();
        result = QApplication::exec();
        frmVtMain = nullptr;
    }
    // A help viewer may still be open: it goes with the program.
    QApplication::closeAllWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    int13ext::Int13ExitProc();
    DiskUtils::Finalize();
    RemovePlatformHooks();
    return result;
}

}  // namespace ui
