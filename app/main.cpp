// kestrel: the window that writes a firmware image into a handset.

#include <QApplication>

#include "app/app_startup.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    kestrel::InitApplication(app);
    kestrel::InitInstance();
    return 0;
}
