// Program start. The windows are not there yet: this start runs the engine's
// start-up and lists the drives headless.
#include <cstdio>

#include "DiskParam.h"
#include "DiskUtils.h"
#include "MachineProfile.h"
#include "int13ext.h"

int main() {
    DiskUtils::Initialize();
    DiskParam::Initialize();
    if (!int13ext::Initialize()) return 1;
    std::printf("Vantrel 2.0 (headless: the windows are not built yet)\n");
    for (const auto& d : platform::Machine::Current().Config().logical)
        std::printf("logical  %c:  type %u  %s\n", d.letter, d.driveType, d.source.c_str());
    for (const auto& d : platform::Machine::Current().Config().physical)
        std::printf("physical %d   %s\n", d.number, d.source.c_str());
    int13ext::Int13ExitProc();
    DiskUtils::Finalize();
    return 0;
}
