// KorvelService: the configurator of the Korvel gateway module.

#include "KorvelApplication.h"
#include "Main_Win.h"
#include "TerminationSignals.h"

int main(int argc, char** argv)
{
    TKorvelApplication application(argc, argv);
    TMainWindow window;
    CloseOnTerminationSignals(&window);
    window.show();
    return application.exec();
}
