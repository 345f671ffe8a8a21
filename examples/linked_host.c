/* A C host that links with TarvoSetup.DLL through an import library, instead of
   looking the exports up at run time:   tarvo-linked "COMMAND LINE"  */
#include <stdio.h>

#include "tarvo_setup.h"

int main(int argc, char **argv)
{
    char output[4096];
    int result;

    if (argc != 2) {
        fprintf(stderr, "usage: tarvo-linked \"COMMAND LINE\"\n");
        return 2;
    }
    result = Execute(argv[1], output, sizeof output);
    printf("Execute returned %d\n%s", result, output);
    return 0;
}
