// The Standard Recovery window on the demo machine: its greeting in the hex
// view, after the scan of the NTFS drive with a folder's files checked, a
// toolbar hint over the scanned drive's status bar, and after the recovery.
#include <QDir>
#include <QTest>
#include <QToolBar>

#include "QuickMain.h"
#include "Shots.h"
#include "seldir.h"

namespace {

std::unique_ptr<TfrmQuickMain> Scanned(const char* folder) {
    auto w = std::make_unique<TfrmQuickMain>();
    w->AppDirectory = QDir::tempPath().toStdString() + "/";  // the program folder stays untouched
    w->OpenFolder = [](const std::string&) {};
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get())) return w;
    for (int i = 0; i < w->MyComputerNode->childCount(); ++i)
        if (w->MyComputerNode->child(i)->text(0).startsWith(QStringLiteral("D:")))
            w->DriveTree->setCurrentItem(w->MyComputerNode->child(i));
    QTreeWidgetItem* root = w->TreeView1->currentItem();
    for (int i = 0; root && i < root->childCount(); ++i)
        if (root->child(i)->text(0) == QString::fromUtf8(folder)) {
            root->child(i)->setExpanded(true);
            w->TreeView1->setCurrentItem(root->child(i));
        }
    for (int i = 0; i < w->RowCount(); ++i)
        if (w->RowText(i, 2).isEmpty() == false) w->ListView1->SetChecked(i, true);
    return w;
}

const vt::shots::TRegistrar kBrowse({"std-recovery", "Standard Recovery: a scanned NTFS drive, deleted rows checked",
                                     [] {
                                         auto w = Scanned("\\");
                                         w->TabSet1->setCurrentIndex(1);
                                         for (int i = 0; i < w->RowCount(); ++i)
                                             if (w->RowText(i, 0) == QStringLiteral("deleted.txt")) {
                                                 w->ListView1->SetSelected(i, true);
                                                 w->ListView1Click();
                                             }
                                         return std::unique_ptr<QWidget>(std::move(w));
                                     }});

const vt::shots::TRegistrar kGreeting({"std-recovery-greeting", "Standard Recovery: the greeting in the hex view", [] {
                                           auto w = std::make_unique<TfrmQuickMain>();
                                           w->AppDirectory = QDir::tempPath().toStdString() + "/";
                                           w->show();
                                           w->TabSet1->setCurrentIndex(1);
                                           return std::unique_ptr<QWidget>(std::move(w));
                                       }});

const vt::shots::TRegistrar kHint({"std-recovery-hint",
                                   "Standard Recovery: the mouse resting on Recover, its hint a tooltip over the status bar",
                                   [] {
                                       auto w = Scanned("\\");
                                       auto* bar = w->findChild<QToolBar*>(QStringLiteral("ToolBar1"));
                                       vt::shots::RestOn(bar->widgetForAction(w->ToolButton(QStringLiteral("Recover"))));
                                       return std::unique_ptr<QWidget>(std::move(w));
                                   }});

const vt::shots::TRegistrar kRecovered({"std-recovery-log", "Standard Recovery: the log after a recovery", [] {
                                            auto w = Scanned("\\");
                                            const QString target = QDir::tempPath() + QStringLiteral("/vantrel-shot");
                                            QDir(target).removeRecursively();
                                            QDir().mkpath(target);
                                            vt::shots::WhenModal([target](QWidget* modal) {
                                                if (auto* d = qobject_cast<TfrmSelDir*>(modal)) {
                                                    d->Edit1->setText(target);
                                                    d->Button2->click();
                                                }
                                            });
                                            w->RecoverExecute();
                                            return std::unique_ptr<QWidget>(std::move(w));
                                        }});

}  // namespace
