// Tollmark: the operator's front end to the console tool.
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The main window first (its creation runs the first listing), then the two dialogs.
    Form1 = new TForm1;
    Form2 = new TForm2;
    Form3 = new TForm3;
    Form1->show();
    const int status = app.exec();
    delete Form3;
    delete Form2;
    delete Form1;
    return status;
}
