// Placeholder until the main window lands: runs nothing, shows nothing.
#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return 0;
}
