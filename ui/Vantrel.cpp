// The program. It takes no command-line arguments.
#include <QApplication>

#include "Program.h"

int main(int, char** argv) {
    // Only the program's name reaches Qt: no argument changes what it does.
    int argc = 1;
    char* args[] = {argv[0], nullptr};
    // The toolkit comes first so that a unit's start-up can show its message
    // box (the 9x driver's); no window exists before the units have started.
    QApplication app(argc, args);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    return ui::RunProgram();
}
