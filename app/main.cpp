#include "app/LoaderApplication.h"

int main(int argc, char **argv)
{
    return loader::RunLoader(argc, argv);
}
