// The Advanced Recovery window on the demo machine: its greeting in the hex
// view, a scanned partition with a recovered folder marked, a toolbar hint
// over the status bar, and the physical drive after a deep scan with its lost
// partition scanned and recovered from.
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolBar>

#include "AdvMain.h"
#include "FileList.h"
#include "Shots.h"
#include "seldir.h"

namespace {

QTreeWidgetItem* Node(QTreeWidgetItem* node, const QString& prefix) {
    if (node->text(0).startsWith(prefix)) return node;
    for (int i = 0; i < node->childCount(); ++i)
        if (QTreeWidgetItem* n = Node(node->child(i), prefix)) return n;
    return nullptr;
}

std::unique_ptr<ui::TfrmAdvMain> Shown() {
    auto w = std::make_unique<ui::TfrmAdvMain>();
    w->AppDirectory = QDir::tempPath().toStdString() + "/";  // the program folder stays untouched
    w->OpenFolder = [](const std::string&) {};
    const std::string target = QDir::tempPath().toStdString() + "/vantrel-adv-shot";
    QDir(QString::fromStdString(target)).removeRecursively();
    QDir().mkpath(QString::fromStdString(target));
    w->SelectTarget = [target](std::string& dir) {
        dir = target;
        return true;
    };
    w->show();
    QTest::qWaitForWindowExposed(w.get());
    return w;
}

void ClickDriveNode(ui::TfrmAdvMain& w, const char* prefix) {
    if (QTreeWidgetItem* n = Node(w.MyComputerNode, QString::fromUtf8(prefix))) {
        w.TreeView2->setCurrentItem(n);
        w.TreeView2Click();
    }
}

// Shows the found folder holding a row of that caption and checks the row.
void CheckInFolder(ui::TfrmAdvMain& w, const QString& caption) {
    for (int k = 0; k < w.ScanRootNode->childCount(); ++k) {
        w.TreeView1->setCurrentItem(w.ScanRootNode->child(k));
        w.TreeView1Click(&w);
        for (int i = 0; i < w.ListView1->Count(); ++i)
            if (w.ListView1->Text(i, 0) == caption) {
                w.ListView1->SetChecked(i, true);
                w.ListView1->SetSelected(i, true);
                return;
            }
    }
}

const vt::shots::TRegistrar kScanned({"adv-recovery", "Advanced Recovery: a scanned partition, a folder recovered", [] {
                                          auto w = Shown();
                                          ClickDriveNode(*w, "PRIMARY16");
                                          CheckInFolder(*w, QStringLiteral("inner"));
                                          w->RecoverExecute();
                                          CheckInFolder(*w, QStringLiteral("big.bin"));
                                          w->TabSet1->setCurrentIndex(0);
                                          w->TabSet1Click();
                                          return std::unique_ptr<QWidget>(std::move(w));
                                      }});

const vt::shots::TRegistrar kGreeting({"adv-recovery-greeting", "Advanced Recovery: the greeting in the hex view", [] {
                                           auto w = Shown();
                                           w->TabSet1->setCurrentIndex(1);
                                           return std::unique_ptr<QWidget>(std::move(w));
                                       }});

const vt::shots::TRegistrar kHint({"adv-recovery-hint",
                                   "Advanced Recovery: the mouse resting on SmartScan, its hint a tooltip over the status bar",
                                   [] {
                                       auto w = Shown();
                                       ClickDriveNode(*w, "PRIMARY16");
                                       CheckInFolder(*w, QStringLiteral("big.bin"));
                                       auto* bar = w->findChild<QToolBar*>(QStringLiteral("ToolBar3"));
                                       vt::shots::RestOn(bar->widgetForAction(w->ToolButton(QStringLiteral("PartiScan"))));
                                       return std::unique_ptr<QWidget>(std::move(w));
                                   }});

const vt::shots::TRegistrar kDeep({"adv-recovery-deep", "Advanced Recovery: a lost partition found by the deep scan",
                                   [] {
                                       auto w = Shown();
                                       if (QTreeWidgetItem* drive = Node(w->MyComputerNode, QStringLiteral("物理驱动器")))
                                           w->TreeView2->setCurrentItem(drive);
                                       vt::shots::WhenModal([](QWidget* modal) {
                                           if (auto* box = qobject_cast<QMessageBox*>(modal))
                                               box->button(QMessageBox::Yes)->click();
                                       });
                                       w->PartiScanExecute();
                                       ClickDriveNode(*w, "LOSTVOL");
                                       CheckInFolder(*w, QStringLiteral("old.txt"));
                                       w->RecoverExecute();
                                       return std::unique_ptr<QWidget>(std::move(w));
                                   }});

}  // namespace
