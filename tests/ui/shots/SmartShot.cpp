// The drive health window on the demo machine: its healthy drive, and its
// failing drive with the failed attribute selected.
#include <QTest>

#include "Shots.h"
#include "SmartMain.h"

namespace {

std::unique_ptr<TfrmSmart> Shown(int drive) {
    auto w = std::make_unique<TfrmSmart>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get())) return w;
    if (drive < w->ComboBox1->count()) {
        w->ComboBox1->setCurrentIndex(drive);
        emit w->ComboBox1->activated(drive);
    }
    return w;
}

const vt::shots::TRegistrar kHealthy({"smart-healthy", "IDE HDD Health Diagnosis: the demo's healthy drive", [] {
                                          return std::unique_ptr<QWidget>(Shown(0));
                                      }});

const vt::shots::TRegistrar kFailing({"smart-failing",
                                      "IDE HDD Health Diagnosis: the demo's failing drive, the failed attribute selected",
                                      [] {
                                          auto w = Shown(1);
                                          constexpr int kStatus = 7;  // the "Status" column
                                          for (int i = 0; i < w->ListView1->topLevelItemCount(); ++i) {
                                              QTreeWidgetItem* row = w->ListView1->topLevelItem(i);
                                              if (row->text(kStatus) == QString::fromUtf8("危险的")) {
                                                  w->ListView1->setCurrentItem(row);
                                                  break;
                                              }
                                          }
                                          return std::unique_ptr<QWidget>(std::move(w));
                                      }});

}  // namespace
