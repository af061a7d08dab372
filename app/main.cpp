#include "desktop/AppMain.h"

int main(int argc, char* argv[])
{
    return appMain(argc, argv);
}
