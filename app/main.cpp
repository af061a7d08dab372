// The desktop program's entry point; appMain does the work.

#include "desktop/AppMain.h"

int main(int argc, char* argv[])
{
    return appMain(argc, argv);
}
